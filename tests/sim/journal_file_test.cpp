// Tests of saving and opening journals through the main window.
#include "harness.h"

#include "script/script_export.h"

namespace vesk::testing {
namespace {

// Records n mouse moves, pauses and stops with the save question answered;
// a save that fails is then declined when the question comes again.
void RecordAndStop(SimProgram& p, int moves, std::optional<std::string> saveAs,
                   bool saveFails = false) {
  p.sim.Click(p.main, IDC_RECORD);
  for (int i = 0; i < moves; ++i) p.sim.MouseMove(i, i);
  p.sim.CtrlBreak();
  p.sim.AnswerMessageBox(saveAs ? IDYES : IDNO);
  if (saveAs) p.sim.AnswerFileDialog(*saveAs);
  if (saveFails) p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);
}

TEST(JournalFileCommands, SaveAsksWithTheJournalDialogAndReports) {
  SimProgram p;
  p.Start();
  const std::string path = p.dir.File("rec.alg");
  RecordAndStop(p, 3, path);
  ASSERT_EQ(p.sim.FileDialogs().size(), 1u);
  const auto& d = p.sim.FileDialogs()[0];
  EXPECT_TRUE(d.save);
  EXPECT_EQ(d.title, "Save journal as:");
  EXPECT_EQ(d.initialName, "Journal.alg");
  EXPECT_EQ(d.defaultExtension, "alg");
  EXPECT_EQ(d.filterDescription, "Vesk Journal Files (.alg)");
  EXPECT_EQ(d.filterPattern, "*.alg");
  EXPECT_EQ(d.flags & OFN_OVERWRITEPROMPT, OFN_OVERWRITEPROMPT);
  EXPECT_EQ(d.flags & OFN_FILEMUSTEXIST, 0u) << "a new name must be accepted";
  // Three moves and the Ctrl key-down of the pause.
  EXPECT_EQ(p.LastLog(), "Saved 4 records to " + path);
  EXPECT_EQ(ReadFile(path).size(), 4u * 24u);
  EXPECT_EQ(p.Dlg().journal.Count(), 0);
}

TEST(JournalFileCommands, SavingAnEmptyJournalEmptiesTheFile) {
  SimProgram p;
  p.Start();
  const std::string path = p.dir.File("old.alg");
  WriteFile(path, std::string(48, 'x'));
  p.sim.Do([&] {
    p.Dlg().state = RecordingPausedByUser;
    p.Dlg().UpdateStatus();
  });
  p.sim.AnswerMessageBox(IDYES);
  p.sim.AnswerFileDialog(path);
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(p.LastLog(), "Saved 0 records to " + path);
}

TEST(JournalFileCommands, CancelledOrEmptySaveDoesNothing) {
  for (std::optional<std::string> answer :
       {std::optional<std::string>{}, std::optional<std::string>{""}}) {
    SimProgram p;
    p.Start();
    p.sim.Click(p.main, IDC_RECORD);
    p.sim.MouseMove(1, 1);
    p.sim.CtrlBreak();
    p.sim.AnswerMessageBox(IDYES);
    p.sim.AnswerFileDialog(answer);
    p.sim.Click(p.main, IDC_STOP);
    EXPECT_EQ(p.LastLog(), "Recording Stopped.");
    EXPECT_EQ(p.Dlg().journal.Count(), 0);
  }
}

TEST(JournalFileCommands, UnwritablePlacesAreReportedAndNothingIsLost) {
  SimProgram p;
  p.Start();
  std::filesystem::create_directory(p.dir.File("folder.alg"));
  const std::string longPath = p.dir.File(std::string(1000, 'L') + ".alg");
  for (const std::string& path :
       {p.dir.File("no/such/dir/x.alg"), p.dir.File("folder.alg"), longPath}) {
    RecordAndStop(p, 1, path, /*saveFails=*/true);
    EXPECT_EQ(p.LastLog(), "Could not open " + path + " for writing");
  }
  EXPECT_TRUE(p.Running());
}

TEST(JournalFileCommands, AWriteFailureIsNeverReportedAsSaved) {
  SimProgram p;
  p.Start();
  const std::string path = p.dir.File("keep.alg");
  WriteFile(path, "previous journal");
  {
    FileSizeLimit limit(30);
    ASSERT_TRUE(limit.ok());
    RecordAndStop(p, 5, path, /*saveFails=*/true);
  }
  EXPECT_EQ(p.LastLog(), "Could not write " + path);
  EXPECT_EQ(ReadFile(path), "previous journal");
}

TEST(JournalFileCommands, ALongPathGivesAShortenedCleanLine) {
  SimProgram p;
  p.Start();
  std::string dir = p.dir.File("");
  std::string sub = std::string(200, 'd');
  std::filesystem::create_directory(dir + sub);
  const std::string path = dir + sub + "/" + std::string(200, 'f') + ".alg";
  RecordAndStop(p, 1, path);
  const std::string line = p.LastLog();
  EXPECT_EQ(line.size(), 199u);
  EXPECT_EQ(line.rfind("Saved 2 records to ", 0), 0u);
  EXPECT_EQ(line.substr(196), "...");
  EXPECT_EQ(ReadFile(path).size(), 48u);
}

TEST(JournalFileCommands, OpenUsesTheOpenDialogAndEmptiesTheScript) {
  SimProgram p;
  p.Start();
  RecordAndStop(p, 2, std::nullopt);
  ASSERT_FALSE(ScriptText().empty());
  WriteFile("three.alg", std::string(3 * 24, '\0') + "xy");
  p.Play(p.dir.File("three.alg"));
  const auto& d = p.sim.FileDialogs().back();
  EXPECT_FALSE(d.save);
  EXPECT_EQ(d.title, "Open journal:");
  EXPECT_EQ(d.initialName, "");
  EXPECT_EQ(d.defaultExtension, "alg");
  EXPECT_EQ(d.filterDescription, "Vesk Journal Files (.alg)");
  EXPECT_EQ(d.filterPattern, "*.alg");
  EXPECT_EQ(d.flags, 0x1006u);
  EXPECT_TRUE(ScriptText().empty());
  const auto log = p.Log();
  EXPECT_EQ(Count(log, "Loaded 3 records from " + p.dir.File("three.alg")), 1);
}

TEST(JournalFileCommands, FailedOpenKeepsScriptAndReports) {
  SimProgram p;
  p.Start();
  RecordAndStop(p, 1, std::nullopt);
  const std::string script = ScriptText();
  const std::string path = p.dir.File("missing.alg");
  p.Play(path);
  EXPECT_EQ(p.LastLog(), "Could not open " + path + " for reading");
  EXPECT_EQ(ScriptText(), script);
  EXPECT_EQ(p.Dlg().state, Stopped);
}

TEST(JournalFileCommands, SavedJournalReadsBackFieldForField) {
  SimProgram p;
  p.Start();
  const std::string path = p.dir.File("rt.alg");
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.Advance(3);
  p.sim.MouseMove(10, 20);
  p.sim.KeyDown(0x41, 0x1E);
  p.sim.Advance(9);
  p.sim.KeyUp(0x41, 0x1E);
  p.sim.Wheel(10, 20, 120);
  p.sim.CtrlBreak();
  std::vector<JournalEntry> recorded;
  for (std::size_t i = 0; i < p.Dlg().journal.Size(); ++i)
    recorded.push_back(p.Dlg().journal.At(i));
  p.sim.AnswerMessageBox(IDYES);
  p.sim.AnswerFileDialog(path);
  p.sim.Click(p.main, IDC_STOP);
  Journal back;
  ASSERT_TRUE(ReadJournalFile(path, back, [] {}));
  ASSERT_EQ(back.Size(), recorded.size());
  for (std::size_t i = 0; i < recorded.size(); ++i) EXPECT_EQ(back.At(i), recorded[i]) << i;
}

}  // namespace
}  // namespace vesk::testing
