// `vesk play` on the simulated desktop: the settings file only read, every
// row of the exit status table the window decides, the speed factor on a
// drift-free schedule, and each edit on a recorded journal replayed.
#include "harness.h"

#include "app/command_line.h"
#include "storage/journal_edits.h"
#include "storage/journal_text.h"

namespace vesk::testing {
namespace {

// Options outlive the program that points at them (declared first).
struct PlayRun {
  PlayOptions options;
  SimProgram p;
  explicit PlayRun(std::int32_t countdown = 0) { options.countdownSeconds = countdown; }
  ~PlayRun() { SetCommandRun(nullptr); }
  void Start(const std::vector<JournalEntry>& journal) {
    WriteJournal("j.alg", journal);
    options.file = "j.alg";
    SetCommandRun(&options);
    p.Start();
  }
};

std::vector<JournalEntry> Moves(int n, std::uint32_t delay) {
  std::vector<JournalEntry> v;
  for (int i = 0; i < n; ++i) v.push_back(Move(10u + i, 20u, delay));
  return v;
}

TEST(CommandRun, PlaysEveryPassClosesWithZeroAndNeverWritesSettings) {
  PlayRun r;
  r.options.repeat = 2;
  r.Start(Moves(3, 10));
  r.p.sim.Advance(1000);
  EXPECT_FALSE(r.p.Running());
  EXPECT_EQ(r.p.exitCode, 0);
  EXPECT_EQ(r.p.sim.Processed().size(), 4u);  // two passes, the last entry of each handed over only
  EXPECT_FALSE(std::filesystem::exists(kSettingsFileName)) << "missing settings are not created";
}

TEST(CommandRun, SettingsAreReadNotChangedAndTheAutomaticRunIsNotPosted) {
  PlayRun r;
  WriteSettings(5, true, false, "other.alg");
  const std::string before = ReadFile(kSettingsFileName);
  r.options.speedPercent = 100;  // recorded pace though the settings say default speed
  r.Start(Moves(3, 100));
  const auto t0 = r.p.sim.Now();
  r.p.sim.Advance(250);
  EXPECT_EQ(Count(r.p.Log(), "Auto Playback Started"), 0);
  EXPECT_EQ(r.p.Dlg().settings.repeatCount, 5) << "an option not given comes from the file";
  ASSERT_GE(r.p.sim.Processed().size(), 2u);
  EXPECT_EQ(r.p.sim.Processed()[1].at - t0, 200u);
  r.p.sim.CloseBox(r.p.main);
  r.p.sim.Advance(10);
  EXPECT_EQ(r.p.exitCode, 1) << "the window closed before the run ended";
  EXPECT_EQ(ReadFile(kSettingsFileName), before);
}

TEST(CommandRun, CountdownIsAnnouncedAndWaited) {
  PlayRun r(3);
  const auto t0 = r.p.sim.Now();
  r.Start(Moves(2, 0));
  EXPECT_EQ(Count(r.p.Log(), "Vesk will play j.alg in 3 seconds."), 1);
  r.p.sim.Advance(10);
  ASSERT_EQ(r.p.sim.Processed().size(), 1u);
  EXPECT_GE(r.p.sim.Processed()[0].at - t0, 3000u);
}

// The schedule is scaled as a whole: every event within a millisecond of
// its scaled time, so nothing adds up at any factor.
TEST(CommandRun, SpeedFactorScalesTheScheduleWithoutDrift) {
  for (const std::int32_t speed : {50, 200, 300}) {
    PlayRun r;
    r.options.speedPercent = speed;
    r.Start(Moves(301, 7));
    const auto t0 = r.p.sim.Now();
    r.p.sim.Advance(10000);
    const auto& played = r.p.sim.Processed();
    ASSERT_EQ(played.size(), 300u) << speed;
    for (std::size_t i = 0; i < played.size(); ++i) {
      const double planned = 7.0 * static_cast<double>(i + 1) * 100.0 / speed;
      EXPECT_NEAR(static_cast<double>(played[i].at - t0), planned, 1.0) << speed << " " << i;
    }
    EXPECT_EQ(r.p.exitCode, 0);
  }
}

TEST(CommandRun, LoopEndedByCtrlBreakAndStopAfterAWholePassIsFinished) {
  for (const bool wholePass : {true, false}) {
    PlayRun r;
    r.options.loop = true;
    r.Start(Moves(3, 100));
    r.p.sim.Advance(wholePass ? 950 : 150);
    r.p.sim.CtrlBreak();
    r.p.sim.Click(r.p.main, IDC_STOP);
    r.p.sim.Advance(10);
    EXPECT_FALSE(r.p.Running());
    EXPECT_EQ(r.p.exitCode, wholePass ? 0 : 1);
  }
}

TEST(CommandRun, PausedAndStoppedOrCancelledRepeatRunIsUnfinished) {
  for (const bool bySystem : {false, true}) {
    PlayRun r;
    r.options.repeat = 3;
    r.Start(
        {{1, {WM_KEYDOWN, 0x2A10, 0, 0, 0}}, Move(1, 1, 100), Move(2, 2, 100), Move(3, 3, 100)});
    r.p.sim.Advance(450);
    ASSERT_FALSE(r.p.sim.HeldKeys().empty());
    if (bySystem) {
      r.p.sim.CtrlEsc();  // unattended: the run ends by itself
    } else {
      r.p.sim.CtrlBreak();
      EXPECT_TRUE(r.p.Running()) << "paused by the user: Continue or Stop is the user's";
      r.p.sim.Click(r.p.main, IDC_STOP);
    }
    r.p.sim.Advance(10);
    EXPECT_FALSE(r.p.Running());
    EXPECT_TRUE(r.p.sim.HeldKeys().empty());
    EXPECT_EQ(r.p.exitCode, 1);
  }
}

TEST(CommandRun, NoPlaybackHookMeansNoWayToSendInput) {
  PlayRun r;
  r.p.sim.FailHook(WH_JOURNALPLAYBACK, true);
  r.Start(Moves(3, 10));
  r.p.sim.Advance(10);
  EXPECT_FALSE(r.p.Running());
  EXPECT_EQ(r.p.exitCode, kExitNoInput);
}

TEST(CommandRun, SignalReleasesHeldInputAndEndsWith130) {
  PlayRun r;
  r.Start({{1, {WM_KEYDOWN, 0x2A10, 0, 0, 0}},
           {1, {WM_LBUTTONDOWN, 5, 5, 10, 0}},
           Move(6, 6, 5000),
           Move(7, 7, 10)});
  r.p.sim.Advance(100);
  ASSERT_FALSE(r.p.sim.HeldKeys().empty());
  r.p.sim.Do([] { EndBySignal(); });
  r.p.sim.Advance(10);
  EXPECT_FALSE(r.p.Running());
  EXPECT_TRUE(r.p.sim.HeldKeys().empty());
  EXPECT_TRUE(r.p.sim.HeldButtons().empty());
  EXPECT_EQ(r.p.exitCode, kExitSignal);
}

// A journal recorded on the simulated desktop, with stray moves, a drag,
// idle time before the first input and a long pause.
std::vector<JournalEntry> Recorded() {
  SimProgram p;
  WriteSettings(1, false, true, "x.alg");
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.Advance(700);
  for (int x = 0; x < 5; ++x) {
    p.sim.MouseMove(100 + x, 100);
    p.sim.Advance(15);
  }
  p.sim.MouseButton(WM_LBUTTONDOWN, 104, 100);
  p.sim.Advance(30);
  p.sim.MouseMove(150, 120);
  p.sim.Advance(30);
  p.sim.MouseButton(WM_LBUTTONUP, 150, 120);
  p.sim.Advance(3000);
  p.sim.MouseMove(10, 10);
  p.sim.Advance(20);
  p.sim.KeyDown(0x41, 0x1E);
  p.sim.Advance(40);
  p.sim.KeyUp(0x41, 0x1E);
  p.sim.Advance(5);
  p.sim.MouseMove(11, 11);  // the last entry: handed over, never processed
  return EntriesOf(p.Dlg().journal);
}

TEST(CommandRun, EachEditOfARecordedJournalPlaysAsEdited) {
  const std::vector<JournalEntry> recorded = Recorded();
  ASSERT_EQ(recorded.size(), 12u);
  std::vector<JournalEdits> all(4);
  all[0].scaleDelays = 0.5;
  all[1].maxDelay = 250;
  all[2].trim = true;
  all[3].dropMoves = true;
  for (const JournalEdits& edits : all) {
    const std::vector<JournalEntry> expected = ApplyEdits(edits, recorded);
    ASSERT_LE(expected.size(), recorded.size());
    PlayRun r;
    r.options.edits = edits;
    r.options.speedPercent = 200;  // multiplies with the edits
    r.Start(recorded);
    const auto t0 = r.p.sim.Now();
    r.p.sim.Advance(10000);
    EXPECT_EQ(r.p.exitCode, 0);
    const auto& played = r.p.sim.Processed();
    ASSERT_EQ(played.size(), expected.size() - 1) << JournalToText(expected);
    std::uint64_t planned = 0;
    for (std::size_t i = 0; i < played.size(); ++i) {
      planned += expected[i].event.time;
      EXPECT_EQ(played[i].event, expected[i].event) << i;
      EXPECT_NEAR(static_cast<double>(played[i].at - t0), static_cast<double>(planned) / 2, 1.0);
    }
  }
}

}  // namespace
}  // namespace vesk::testing
