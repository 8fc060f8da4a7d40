// Replay as the user sees it: the recorded schedule kept without drift,
// passes played again, and how an automatic run ends.
#include "harness.h"

namespace vesk::testing {
namespace {

std::vector<std::uint64_t> Times(const sim::SimDesktop& sim) {
  std::vector<std::uint64_t> at;
  for (const auto& e : sim.Processed()) at.push_back(e.at);
  return at;
}

// When each processed entry is due: the recorded delays summed from the
// start, never sooner than 1 ms after the entry before.
std::vector<std::uint64_t> Schedule(std::uint64_t start, const std::vector<JournalEntry>& entries,
                                    std::size_t count) {
  std::vector<std::uint64_t> due;
  std::uint64_t planned = start;
  std::uint64_t last = start;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t d = entries[i].event.time;
    planned += d > 0x7FFFFFFFu ? 0 : d;
    last = std::max(planned, last + 1);
    due.push_back(last);
  }
  return due;
}

TEST(ReplayTiming, TenThousandMixedEntriesEndOnTheRecordedTime) {
  SimProgram p;
  std::vector<JournalEntry> entries;
  std::vector<std::uint64_t> recorded;  // the recorded time of each entry
  std::uint64_t sum = 0;
  for (std::uint32_t i = 0; i < 10'000; ++i) {
    // Bursts recorded in the same millisecond, mouse-rate gaps and pauses.
    const std::uint32_t delay = i % 7 == 6 ? 40 : (i % 3 == 0 ? 0 : 1);
    entries.push_back(Move(i % 640, i % 480, delay));
    sum += delay;
    recorded.push_back(sum);
  }
  WriteJournal("j.alg", entries);
  p.Start();
  p.Play(p.dir.File("j.alg"));
  const auto start = p.sim.Now();
  p.sim.Advance(200'000);
  ASSERT_EQ(p.sim.Processed().size(), 9'999u) << "all but the last entry";
  const auto at = Times(p.sim);
  EXPECT_EQ(at, Schedule(start, entries, 9'999));
  for (std::size_t i = 1; i < at.size(); ++i) {
    ASSERT_GE(at[i] - at[i - 1], 1u) << i;
    // No drift: the lateness of each burst is made up by the next long gap.
    if (entries[i].event.time == 40) {
      ASSERT_EQ(at[i] - start, recorded[i]) << i;
    }
  }
  EXPECT_LE(at.back() - start, recorded[9'998] + 2);
}

TEST(ReplayTiming, AskingAgainEarlyGetsTheRestOfTheWait) {
  SimProgram p;
  const std::vector<JournalEntry> entries = {Move(1, 1, 30), Move(2, 2, 25), Move(3, 3, 40),
                                             Move(4, 4, 5)};
  WriteJournal("j.alg", entries);
  p.Start();
  p.sim.AskAgainEarly(3, 2);  // the first two waits are cut short
  p.sim.AskAgainEarly(1, 1);  // and the next one too
  p.Play(p.dir.File("j.alg"));
  const auto start = p.sim.Now();
  p.sim.Advance(500);
  EXPECT_EQ(Times(p.sim), Schedule(start, entries, 3));
}

const std::vector<JournalEntry> kHostile = {Move(1, 1, 10), Move(2, 2, 0xFFFFFFFF),
                                            Move(3, 3, 0x80000000), Move(4, 4, 7), Move(5, 5, 1)};

TEST(ReplayTiming, AHostileDelayPlaysAsZero) {
  SimProgram p;
  WriteSettings(1, false, true, "x.alg");
  const auto& entries = kHostile;
  WriteJournal("j.alg", entries);
  p.Start();
  p.Play(p.dir.File("j.alg"));
  const auto start = p.sim.Now();
  p.sim.Advance(100);
  EXPECT_EQ(Times(p.sim), Schedule(start, entries, 4)) << "a delay above 0x7FFFFFFF plays as 0";
  EXPECT_EQ(Count(p.Log(), "             2 Mouse Move: (2,2)   +4294967295"), 1)
      << "and is logged as stored";
  EXPECT_EQ(p.Dlg().state, Stopped);
}

TEST(ReplayTiming, DefaultSpeedIsOneEntryEveryTwentyMilliseconds) {
  SimProgram q;
  WriteSettings(1, false, false, "x.alg");
  WriteJournal("j.alg", kHostile);
  q.Start();
  q.Play(q.dir.File("j.alg"));
  const auto t0 = q.sim.Now();
  q.sim.Advance(1000);
  EXPECT_EQ(Times(q.sim), (std::vector<std::uint64_t>{t0 + 20, t0 + 40, t0 + 60, t0 + 80}));
}

TEST(ReplayTiming, APauseMovesTheRestOfThePass) {
  SimProgram p;
  WriteJournal("j.alg",
               {Move(1, 1, 100), Move(2, 2, 100), Move(3, 3, 100), Move(4, 4, 50), Move(5, 5, 0)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  const auto start = p.sim.Now();
  p.sim.Advance(150);
  p.sim.CtrlBreak();
  p.sim.Advance(10'000);
  const auto resumed = p.sim.Now();
  p.sim.Click(p.main, IDC_PLAY);
  p.sim.Advance(1000);
  // Entry 2 was handed over before the pause and waits its delay again.
  EXPECT_EQ(Times(p.sim),
            (std::vector<std::uint64_t>{start + 100, resumed + 100, resumed + 200, resumed + 250}));
}

TEST(PlayAgain, CtrlBreakRacingTheNextPassWins) {
  SimProgram p;
  WriteSettings(3, false, true, "x.alg");
  WriteJournal("j.alg", {Move(1, 1, 10), Move(2, 2, 10)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  // The pass ends at +20 ms and posts "Play Again"; Ctrl+Break arrives in
  // that same moment, before the message is handled.
  p.sim.CtrlBreakAt(p.sim.Now() + 20);
  p.sim.Advance(100);
  EXPECT_EQ(p.Dlg().state, PlaybackPausedByUser);
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALPLAYBACK)) << "no pass started while paused";
  EXPECT_EQ(p.Dlg().cycle, 2);
  EXPECT_EQ(p.sim.Processed().size(), 1u);
  // Continue Playback goes on with the second pass, not the ended first.
  p.sim.Click(p.main, IDC_PLAY);
  p.sim.Advance(1000);
  EXPECT_EQ(p.sim.Processed().size(), 3u);
  EXPECT_EQ(Count(p.Log(), "Playback cycle ended."), 3);
  EXPECT_EQ(p.Dlg().state, Stopped);
}

TEST(PlayAgain, AStaleMessageAfterStopChangesNothing) {
  SimProgram p;
  WriteSettings(2, false, true, "x.alg");
  WriteJournal("j.alg", {Move(1, 1, 10), Move(2, 2, 10)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(100);
  ASSERT_EQ(p.Dlg().state, Stopped);
  p.sim.Do([&] { p.Dlg().PostMessage(g_playAgainMessage, 0, 0); });
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALPLAYBACK));
}

TEST(ExitStatus, AnAutomaticRunTellsTheSchedulerWhetherItFinished) {
  {
    SimProgram p;
    WriteSettings(1, true, true, "VeskJournal.alg");
    WriteJournal("VeskJournal.alg", {Move(1, 1, 10), Move(2, 2, 10)});
    p.Start();
    p.sim.Advance(1000);
    EXPECT_FALSE(p.Running());
    EXPECT_EQ(p.exitCode, 0) << "ended naturally";
  }
  {
    SimProgram p;
    WriteSettings(1, true, true, "VeskJournal.alg");
    WriteJournal("VeskJournal.alg", {Move(1, 1, 100), Move(2, 2, 100)});
    p.Start();
    p.sim.CtrlBreak();
    p.sim.Click(p.main, IDC_STOP);
    p.sim.CloseBox(p.main);
    EXPECT_FALSE(p.Running());
    EXPECT_EQ(p.exitCode, kExitRunUnfinished) << "cancelled";
  }
  {
    SimProgram p;
    WriteSettings(1, true, true, "nowhere.alg");
    p.Start();
    p.sim.Click(p.main, IDC_EXIT);
    EXPECT_EQ(p.exitCode, kExitRunUnfinished) << "journal missing";
  }
}

TEST(SystemNotes, StartupAndInputPathLinesAreLogged) {
  SimProgram p;
  p.sim.SetStartupNotes({"Wayland session: recording sees X11 programs only."});
  p.sim.SetInputPathNote("Input: low-level hooks.");
  WriteJournal("j.alg", {Move(1, 1, 10), Move(2, 2, 10)});
  p.Start();
  EXPECT_EQ(Count(p.Log(), "Wayland session: recording sees X11 programs only."), 1);
  p.sim.Click(p.main, IDC_RECORD);
  EXPECT_EQ(p.LastLog(), "Input: low-level hooks.");
  p.sim.CtrlBreak();
  p.sim.Click(p.main, IDC_RECORD);  // Continue Recording says it no more
  EXPECT_EQ(Count(p.Log(), "Input: low-level hooks."), 1);
}

}  // namespace
}  // namespace vesk::testing
