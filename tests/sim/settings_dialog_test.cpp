// Tests of the settings dialog.
#include "harness.h"

#include "ui/settings_dialog.h"

namespace vesk::testing {
namespace {

class SettingsDialogTest : public ::testing::Test {
 protected:
  void Open() {
    p.Start();
    p.sim.Click(p.main, IDC_SETTINGS);
    dlg = p.sim.FindWindow(kSettingsDialogTemplate);
    ASSERT_NE(dlg, 0u);
  }
  bool ApplyOn() { return p.sim.IsControlEnabled(dlg, IDC_APPLY); }
  std::string Text(int id) { return p.sim.GetControlText(dlg, id); }
  bool Checked(int id) { return p.sim.GetCheck(dlg, id); }
  SimProgram p;
  WindowId dlg = 0;
};

TEST_F(SettingsDialogTest, ShowsTheSettingsWithApplyDisabled) {
  WriteSettings(42, true, false, "my.alg");
  Open();
  EXPECT_EQ(p.sim.GetWindowText(dlg), "Playback settings");
  EXPECT_EQ(p.sim.Window(dlg)->parent, p.main);
  EXPECT_EQ(Text(IDC_REPEAT_COUNT), "42");
  EXPECT_TRUE(Checked(IDC_PLAY_AT_STARTUP));
  EXPECT_FALSE(Checked(IDC_RECORDED_SPEED));
  EXPECT_TRUE(Checked(IDC_DEFAULT_SPEED));
  EXPECT_EQ(Text(IDC_JOURNAL_PATH), "my.alg");
  EXPECT_FALSE(ApplyOn());
}

TEST_F(SettingsDialogTest, ApplyStateFollowsChangesAndApply) {
  Open();
  EXPECT_FALSE(ApplyOn());
  p.sim.Click(dlg, IDC_PLAY_AT_STARTUP);
  EXPECT_TRUE(ApplyOn());
  p.sim.Click(dlg, IDC_APPLY);
  EXPECT_FALSE(ApplyOn());
  EXPECT_EQ(p.Dlg().settings.playAtStartup, 1);
  p.sim.Click(dlg, IDC_RECORDED_SPEED);  // already checked: still a change
  EXPECT_TRUE(ApplyOn());
  p.sim.Click(dlg, IDC_APPLY);
  p.sim.TypeText(dlg, IDC_JOURNAL_PATH, "typed.alg");
  EXPECT_TRUE(ApplyOn());
  p.sim.Click(dlg, IDC_APPLY);
  p.sim.SpinUp(dlg, IDC_REPEAT_SPIN);
  EXPECT_TRUE(ApplyOn());
  p.sim.Click(dlg, IDC_DEFAULT_SPEED);
  p.sim.Click(dlg, IDC_APPLY);
  const auto& s = p.Dlg().settings;
  EXPECT_EQ(s.repeatCount, 2);
  EXPECT_EQ(s.playAtRecordedSpeed, 0);
  EXPECT_EQ(s.defaultJournalPath, "typed.alg");
}

TEST_F(SettingsDialogTest, OkAndCancelApplyNothingButTheFileIsWritten) {
  for (int closeWith : {IDOK, IDCANCEL}) {
    SimProgram q;
    WriteSettings(3, false, true, "keep.alg");
    q.Start();
    q.sim.Click(q.main, IDC_SETTINGS);
    const WindowId d = q.sim.FindWindow(kSettingsDialogTemplate);
    q.sim.TypeText(d, IDC_JOURNAL_PATH, "changed.alg");
    q.sim.SpinDown(d, IDC_REPEAT_SPIN);
    std::filesystem::remove("VeskSettings.auc");
    q.sim.Click(d, closeWith);
    EXPECT_EQ(q.sim.Window(d), nullptr) << "the dialog closed";
    EXPECT_EQ(q.Dlg().settings.defaultJournalPath, "keep.alg");
    EXPECT_EQ(q.Dlg().settings.repeatCount, 3);
    VeskSettings onDisk;
    ASSERT_TRUE(onDisk.Load()) << "rewritten after every close";
    EXPECT_EQ(onDisk.defaultJournalPath, "keep.alg");
  }
}

TEST_F(SettingsDialogTest, ApplyThenCancelKeepsTheValueAndItReachesTheFile) {
  Open();
  p.sim.TypeText(dlg, IDC_JOURNAL_PATH, "applied.alg");
  p.sim.Click(dlg, IDC_APPLY);
  p.sim.PressEscape();
  EXPECT_EQ(p.Dlg().settings.defaultJournalPath, "applied.alg");
  VeskSettings onDisk;
  ASSERT_TRUE(onDisk.Load());
  EXPECT_EQ(onDisk.defaultJournalPath, "applied.alg");
  EXPECT_EQ(p.Title(), "STOPPED - (Vesk)");
}

TEST_F(SettingsDialogTest, RepeatCountWrapsAround) {
  Open();
  EXPECT_EQ(Text(IDC_REPEAT_COUNT), "1");
  p.sim.SpinDown(dlg, IDC_REPEAT_SPIN);
  EXPECT_EQ(Text(IDC_REPEAT_COUNT), "9999999");
  p.sim.Click(dlg, IDC_APPLY);
  EXPECT_EQ(p.Dlg().settings.repeatCount, 9999999);
  p.sim.SpinUp(dlg, IDC_REPEAT_SPIN);
  EXPECT_EQ(Text(IDC_REPEAT_COUNT), "1");
  // The count cannot be typed.
  p.sim.TypeText(dlg, IDC_REPEAT_COUNT, "77");
  EXPECT_EQ(Text(IDC_REPEAT_COUNT), "1");
}

TEST_F(SettingsDialogTest, OutOfRangeCountsFromTheFileAreShownClamped) {
  WriteSettings(-3, false, true, "x.alg");
  Open();
  EXPECT_EQ(Text(IDC_REPEAT_COUNT), "1");
  p.sim.Click(dlg, IDC_PLAY_AT_STARTUP);
  p.sim.Click(dlg, IDC_APPLY);
  EXPECT_EQ(p.Dlg().settings.repeatCount, 1);
}

TEST_F(SettingsDialogTest, HugeCountsFromTheFileAreShownAsTheMaximum) {
  WriteSettings(2000000000, false, true, "x.alg");
  Open();
  EXPECT_EQ(Text(IDC_REPEAT_COUNT), "9999999");
}

TEST_F(SettingsDialogTest, BrowseSetsThePathOnlyOnOk) {
  Open();
  p.sim.AnswerFileDialog(std::nullopt);
  p.sim.Click(dlg, IDC_BROWSE);
  EXPECT_EQ(Text(IDC_JOURNAL_PATH), "VeskJournal.alg");
  EXPECT_FALSE(ApplyOn());
  const auto& r = p.sim.FileDialogs().back();
  EXPECT_EQ(r.title, "Select default journal file:");
  EXPECT_EQ(r.initialName, "Journal.alg");
  EXPECT_EQ(r.defaultExtension, "alg");
  EXPECT_EQ(r.filterPattern, "*.alg");
  EXPECT_EQ(r.flags, 0x1006u);
  p.sim.AnswerFileDialog("/some/where/chosen.alg");
  p.sim.Click(dlg, IDC_BROWSE);
  EXPECT_EQ(Text(IDC_JOURNAL_PATH), "/some/where/chosen.alg");
  EXPECT_TRUE(ApplyOn());
  EXPECT_EQ(p.Dlg().settings.defaultJournalPath, "VeskJournal.alg") << "only Apply stores it";
}

}  // namespace
}  // namespace vesk::testing
