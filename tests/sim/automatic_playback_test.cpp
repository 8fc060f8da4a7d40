// Tests of the automatic run at start-up on the simulated desktop.
#include "harness.h"

#include "script/script_export.h"

namespace vesk::testing {
namespace {

const std::vector<std::string> kNotice = {
    "             ATTENTION !!!",
    "-------------------------------------------",
    "Vesk is currently set up to start playback",
    "automatically. Automatic playback will start",
    "in 10 seconds. Once it starts, you can stop it",
    "by pressing Ctrl+Break, and then clicking Stop",
    "button. You can change this setting later.",
    "-------------------------------------------",
    "",
};

TEST(AutomaticPlayback, NoticeWaitLoadPlayAndClose) {
  SimProgram p;
  WriteSettings(2, true, true, "VeskJournal.alg");
  WriteJournal("VeskJournal.alg", {Move(1, 1, 10), Move(2, 2, 10), Move(3, 3, 10)});
  const auto t0 = p.sim.Now();
  p.Start();
  auto log = p.Log();
  ASSERT_GE(log.size(), 11u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 9), kNotice);
  EXPECT_EQ(log[9], "Auto Playback Started");
  EXPECT_EQ(log[10], "Loaded 3 records from VeskJournal.alg");
  EXPECT_GE(p.sim.Now() - t0, 10000u) << "the 10 s wait";
  EXPECT_EQ(p.Dlg().cycle, 1);
  EXPECT_EQ(p.Dlg().state, Playing);
  EXPECT_TRUE(p.Dlg().autoPlayback);
  // The notice was painted before the wait.
  p.sim.Advance(1000);
  EXPECT_FALSE(p.Running()) << "the run's natural end closes the program";
  EXPECT_EQ(p.sim.Processed().size(), 4u);  // two passes of two processed entries
}

TEST(AutomaticPlayback, EmptyPathStopsAfterTheStartLine) {
  SimProgram p;
  WriteSettings(1, true, true, "");
  p.Start();
  EXPECT_EQ(p.LastLog(), "Auto Playback Started");
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_TRUE(p.Running());
}

TEST(AutomaticPlayback, MissingJournalIsReportedAndKeepsTheScript) {
  SimProgram p;
  WriteSettings(1, true, true, "nowhere.alg");
  p.Start();
  EXPECT_EQ(p.LastLog(), "Failed to open nowhere.alg for reading");
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_TRUE(p.Running());
  // autoPlayback is set for good: a later run by hand closes the program.
  WriteJournal("j.alg", {Move(1, 1, 1), Move(2, 2, 1)});
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(100);
  EXPECT_FALSE(p.Running());
}

TEST(AutomaticPlayback, ShortFilesLoadTheirWholeRecords) {
  for (auto [size, count] : {std::pair{0, 0}, {23, 0}, {50, 2}}) {
    SimProgram p;
    WriteSettings(1, true, false, "short.alg");
    WriteFile("short.alg", std::string(static_cast<std::size_t>(size), '\0'));
    p.Start();
    EXPECT_EQ(Count(p.Log(), "Loaded " + std::to_string(count) + " records from short.alg"), 1);
  }
}

TEST(AutomaticPlayback, CtrlBreakAndStopLeaveTheProgramOpen) {
  SimProgram p;
  WriteSettings(1, true, true, "VeskJournal.alg");
  WriteJournal("VeskJournal.alg", {Move(1, 1, 100), Move(2, 2, 100), Move(3, 3, 100)});
  p.Start();
  p.sim.Advance(150);
  p.sim.CtrlBreak();
  EXPECT_EQ(p.Dlg().state, PlaybackPausedByUser);
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(p.Dlg().state, Stopped);
  p.sim.Advance(1000);
  EXPECT_TRUE(p.Running());
}

TEST(AutomaticPlayback, ALoadEmptiesTheScriptSoOnlyLaterLinesAreExported) {
  SimProgram p;
  WriteSettings(1, true, true, "VeskJournal.alg");
  WriteJournal("VeskJournal.alg", {Move(1, 1, 1)});
  p.Start();
  EXPECT_TRUE(ScriptText().empty());
  p.sim.Advance(100);
  EXPECT_FALSE(p.Running());
}

TEST(AutomaticPlayback, ALongDefaultPathStillGivesACleanLine) {
  SimProgram p;
  const std::string path = std::string(300, 'q') + ".alg";
  WriteSettings(1, true, true, path);
  p.Start();
  const std::string line = p.LastLog();
  EXPECT_EQ(line.rfind("Failed to open " + std::string(300, 'q'), 0), 0u);
  EXPECT_TRUE(p.Running());
}

}  // namespace
}  // namespace vesk::testing
