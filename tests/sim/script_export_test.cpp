// The "SaveBasic" script export: what it writes, when, and where it fails.
#include "harness.h"

#include "script/script_export.h"

namespace vesk::testing {
namespace {

TEST(ScriptExport, WritesExactlyTheRecordedLinesWithCrLf) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.MouseMove(5, 6);
  p.sim.MouseButton(WM_LBUTTONDOWN, 5, 6);
  p.sim.KeyDown(0x41, 0x1E);
  p.sim.KeyUp(0x41, 0x1E);
  p.sim.CtrlBreak();
  const std::string path = p.dir.File("s.au3");
  p.sim.AnswerFileDialog(path);
  p.sim.Click(p.main, IDC_SAVEBASIC);  // while paused: counts what is recorded so far
  EXPECT_EQ(ReadFile(path),
            "MouseMove(5, 6)\r\nMouseDown(\"left\")\r\nSend(\"{a DOWN}\")\r\nSend(\"{a UP}\")\r\n"
            "Send(\"{LCTRL DOWN}\")\r\n");
  EXPECT_EQ(p.LastLog(), "Saved 5 records to " + path);
  const auto& d = p.sim.FileDialogs().back();
  EXPECT_TRUE(d.save);
  EXPECT_EQ(d.title, "Save script as:");
  EXPECT_EQ(d.initialName, "Script.au3");
  EXPECT_EQ(d.defaultExtension, "au3");
  EXPECT_EQ(d.filterDescription, "AutoIT Script Files (.au3)");
  EXPECT_EQ(d.filterPattern, "*.au3");
  EXPECT_EQ(d.flags & OFN_FILEMUSTEXIST, 0u);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // After Stop the journal is empty, so the count is 0 whatever the file holds.
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);
  WriteFile(path, std::string(5000, 'z'));  // replaced whole, nothing appended
  p.sim.AnswerFileDialog(path);
  p.sim.Click(p.main, IDC_SAVEBASIC);
  EXPECT_EQ(p.LastLog(), "Saved 0 records to " + path);
  EXPECT_EQ(ReadFile(path).size(), ScriptText().size());
}

TEST(ScriptExport, AfterAnOpenTheScriptIsEmpty) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.MouseMove(1, 1);
  p.sim.CtrlBreak();
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);
  WriteJournal("j.alg", {Move(1, 1, 1)});
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(100);
  const std::string path = p.dir.File("empty.au3");
  p.sim.AnswerFileDialog(path);
  p.sim.Click(p.main, IDC_SAVEBASIC);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(ReadFile(path), "");
}

TEST(ScriptExport, CancelEmptyPathAndFailuresAreHandled) {
  SimProgram p;
  p.Start();
  const auto n = p.Log().size();
  p.sim.AnswerFileDialog(std::nullopt);
  p.sim.Click(p.main, IDC_SAVEBASIC);
  p.sim.AnswerFileDialog("");
  p.sim.Click(p.main, IDC_SAVEBASIC);
  EXPECT_EQ(p.Log().size(), n);
  const std::string bad = p.dir.File("missing/dir/s.au3");
  p.sim.AnswerFileDialog(bad);
  p.sim.Click(p.main, IDC_SAVEBASIC);
  EXPECT_EQ(p.LastLog(), "Could not open " + bad + " for writing");
}

TEST(ScriptExport, WhileRecordingClicksGoThroughButEnterStillSaves) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.MouseMove(1, 1);
  // The window has the focus after the Record click: Enter reaches SaveBasic.
  const std::string path = p.dir.File("live.au3");
  p.sim.AnswerFileDialog(path);
  p.sim.PressEnter();
  EXPECT_EQ(ReadFile(path), "MouseMove(1, 1)\r\n");
  EXPECT_EQ(p.Dlg().state, Recording);
  // A click aimed at SaveBasic passes through the click-through window to
  // whatever is below and is recorded like any click there.
  p.sim.Click(p.main, IDC_SAVEBASIC);
  EXPECT_EQ(p.sim.FileDialogs().size(), 1u);
  EXPECT_EQ(p.sim.Focus(), 0u);
  const auto& j = p.Dlg().journal;
  ASSERT_EQ(j.Size(), 4u);
  EXPECT_EQ(j.At(2).event.message, WM_LBUTTONDOWN);
  int r[4];
  p.Main().ControlRect(*p.Main().Find(IDC_SAVEBASIC), r);
  EXPECT_EQ(j.At(2).event.paramL, static_cast<std::uint32_t>((r[0] + r[2]) / 2));
  // The focus went with the click: Enter no longer reaches the window.
  p.sim.PressEnter();
  EXPECT_EQ(p.sim.FileDialogs().size(), 1u);
  EXPECT_TRUE(p.sim.Surprises().empty());
}

TEST(ScriptExport, WhileRecordingTheLinesRecordedWhileItsDialogIsOpenAreSaved) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.MouseMove(1, 1);
  p.sim.KeepNextFileDialogOpen();
  p.sim.PressEnter();
  ASSERT_TRUE(p.sim.FileDialogOpen());
  p.sim.MouseMove(2, 3);
  const std::string path = p.dir.File("live.au3");
  p.sim.CloseFileDialog(path);
  EXPECT_EQ(ReadFile(path), "MouseMove(1, 1)\r\nMouseMove(2, 3)\r\n");
  EXPECT_EQ(p.LastLog(), "Saved 2 records to " + path);
  EXPECT_EQ(p.Dlg().state, Recording);
}

}  // namespace
}  // namespace vesk::testing
