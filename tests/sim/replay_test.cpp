// Replay as the user sees it: the recorded schedule kept without drift, and
// no key or button left held down whatever stops the playback.
#include "harness.h"

namespace vesk::testing {
namespace {

JournalEntry Key(std::uint32_t message, std::uint32_t vk, std::uint32_t scan, std::uint32_t delay) {
  return {1, {message, (scan << 8) | vk, 1, delay, 0}};
}
JournalEntry Button(std::uint32_t message, std::uint32_t x, std::uint32_t y, std::uint32_t delay) {
  return {1, {message, x, y, delay, 0}};
}
constexpr std::uint32_t kShift = 0x10, kShiftScan = 0x2A, kA = 0x41, kAScan = 0x1E;

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

// Pausing between the press and the release of a key, of a button, or
// inside Shift+letter: released while paused, pressed again on Continue.
class HeldInputTest : public ::testing::Test {
 protected:
  void Play(const std::vector<JournalEntry>& entries, std::uint32_t pauseAfterMs) {
    WriteJournal("j.alg", entries);
    p.Start();
    p.Play(p.dir.File("j.alg"));
    p.sim.Advance(pauseAfterMs);
    p.sim.CtrlBreak();
    ASSERT_EQ(p.Dlg().state, PlaybackPausedByUser);
  }
  std::vector<EVENTMSG> SentAtOnce() {
    std::vector<EVENTMSG> sent;
    for (const auto& in : p.sim.Injected()) {
      if (in.sentAtOnce) sent.push_back(in.event);
    }
    return sent;
  }
  SimProgram p;
};

TEST_F(HeldInputTest, AKeyPairIsReleasedAndPressedAgain) {
  Play({Key(WM_KEYDOWN, kA, kAScan, 10), Key(WM_KEYUP, kA, kAScan, 100), Move(9, 9, 10),
        Move(0, 0, 0)},
       50);
  EXPECT_TRUE(p.sim.HeldKeys().empty()) << "nothing held while paused";
  EXPECT_EQ(Count(p.Log(), "Released 1 held key or button."), 1);
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_EQ(p.sim.HeldKeys(), std::vector<std::uint32_t>{kA}) << "pressed again on Continue";
  const auto log = p.Log();
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
            (std::vector<std::string>{"Restored 1 held key or button.",
                                      "             3 Keyboard key up: (7745,1)   +100"}))
      << "pressed again before the key-up that was handed over is handed over again";
  p.sim.Advance(1000);
  EXPECT_TRUE(p.sim.HeldKeys().empty()) << "the journal's own key-up let go";
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_EQ(Count(p.Log(), "Released 1 held key or button."), 1) << "nothing left at the end";
}

TEST_F(HeldInputTest, AButtonIsReleasedWhereThePointerIsAndPressedThereAgain) {
  Play({Button(WM_LBUTTONDOWN, 10, 10, 10), Move(50, 60, 10), Button(WM_LBUTTONUP, 50, 60, 100),
        Move(0, 0, 0)},
       40);
  EXPECT_TRUE(p.sim.HeldButtons().empty());
  ASSERT_EQ(SentAtOnce().size(), 1u);
  EXPECT_EQ(SentAtOnce()[0], (EVENTMSG{WM_LBUTTONUP, 50, 60, 0, 0}));
  p.sim.Click(p.main, IDC_PLAY);
  const auto sent = SentAtOnce();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1], (EVENTMSG{WM_MOUSEMOVE, 50, 60, 0, 0})) << "back where playback left it";
  EXPECT_EQ(sent[2], (EVENTMSG{WM_LBUTTONDOWN, 50, 60, 0, 0}));
  p.sim.Advance(1000);
  EXPECT_TRUE(p.sim.HeldButtons().empty());
}

TEST_F(HeldInputTest, ShiftAndALetterAreReleasedLastPressedFirst) {
  Play({Key(WM_KEYDOWN, kShift, kShiftScan, 10), Key(WM_KEYDOWN, kA, kAScan, 10),
        Key(WM_KEYDOWN, kA, kAScan, 10), Key(WM_KEYUP, kA, kAScan, 100),
        Key(WM_KEYUP, kShift, kShiftScan, 10), Move(0, 0, 0)},
       40);
  const auto released = SentAtOnce();
  ASSERT_EQ(released.size(), 2u) << "auto-repeat pressed nothing new";
  EXPECT_EQ(released[0].message, WM_KEYUP);
  EXPECT_EQ(released[0].paramL & 0xFF, kA);
  EXPECT_EQ(released[1].paramL & 0xFF, kShift);
  EXPECT_EQ(Count(p.Log(), "Released 2 held keys and buttons."), 1);
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_EQ(p.sim.HeldKeys(), (std::vector<std::uint32_t>{kShift, kA})) << "oldest first";
  p.sim.Advance(1000);
  EXPECT_TRUE(p.sim.HeldKeys().empty());
}

TEST_F(HeldInputTest, AReleaseHandedOverBeforeThePauseIsNotLost) {
  // The key-up is handed over at 10 ms and due at 110 ms: paused in between.
  Play({Key(WM_KEYDOWN, kA, kAScan, 10), Key(WM_KEYUP, kA, kAScan, 100), Move(9, 9, 10),
        Move(0, 0, 0)},
       60);
  p.sim.Click(p.main, IDC_PLAY);
  p.sim.Advance(1000);
  std::vector<std::uint32_t> played;
  for (const auto& e : p.sim.Processed()) played.push_back(e.event.message);
  EXPECT_EQ(played, (std::vector<std::uint32_t>{WM_KEYDOWN, WM_KEYUP, WM_MOUSEMOVE}));
  EXPECT_TRUE(p.sim.HeldKeys().empty());
}

TEST_F(HeldInputTest, StopWhilePausedPressesNothingAgain) {
  Play({Key(WM_KEYDOWN, kA, kAScan, 10), Key(WM_KEYUP, kA, kAScan, 100), Move(0, 0, 0)}, 50);
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_TRUE(p.sim.HeldKeys().empty());
  EXPECT_EQ(SentAtOnce().size(), 1u);
}

TEST_F(HeldInputTest, TheSystemsCancellationReleasesAndSaysWhy) {
  WriteJournal("j.alg", {Key(WM_KEYDOWN, kShift, kShiftScan, 10), Move(1, 1, 500), Move(0, 0, 0)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(50);
  p.sim.CancelJournal("The desktop was locked.");
  EXPECT_EQ(p.Dlg().state, PlaybackPausedBySystem);
  EXPECT_EQ(p.LogSince(p.Log().size() - 4),
            (std::vector<std::string>{"PAUSED BY SYSTEM", "The desktop was locked.",
                                      "Released 1 held key or button.", "PAUSED BY SYSTEM"}));
  EXPECT_TRUE(p.sim.HeldKeys().empty());
}

TEST_F(HeldInputTest, InputTheSystemRefusesIsReported) {
  WriteJournal("j.alg", {Key(WM_KEYDOWN, kShift, kShiftScan, 10), Move(1, 1, 500), Move(0, 0, 0)});
  p.Start();
  p.sim.LimitSendInput(0);
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(50);
  p.sim.CtrlBreak();
  EXPECT_EQ(p.LastLog(), "Could not release 1 held key or button: the system refused the input.");
}

TEST(HeldInput, TheLastPassEndingAndTheWindowClosingReleaseWhatIsHeld) {
  {
    SimProgram p;
    WriteJournal("j.alg", {Key(WM_KEYDOWN, kShift, kShiftScan, 10), Move(1, 1, 10), Move(0, 0, 0)});
    p.Start();
    p.Play(p.dir.File("j.alg"));
    p.sim.Advance(100);
    EXPECT_EQ(p.Dlg().state, Stopped);
    EXPECT_TRUE(p.sim.HeldKeys().empty());
    const auto log = p.Log();
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"Playback cycle ended.", "Released 1 held key or button.",
                                        "Playback stopped."}));
  }
  {
    SimProgram p;
    WriteJournal("j.alg", {Button(WM_RBUTTONDOWN, 3, 4, 10), Move(1, 1, 5000), Move(0, 0, 0)});
    p.Start();
    p.Play(p.dir.File("j.alg"));
    p.sim.Advance(100);
    ASSERT_EQ(p.sim.HeldButtons(), std::vector<std::uint32_t>{WM_RBUTTONDOWN});
    p.sim.CloseBox(p.main);
    EXPECT_FALSE(p.Running());
    EXPECT_TRUE(p.sim.HeldButtons().empty()) << "closed mid-playback";
    EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALPLAYBACK));
  }
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
