// No key or button left held down by a playback, whatever stops it: what a
// pause releases, what Continue Playback presses again, and what it hands over.
#include "harness.h"

namespace vesk::testing {
namespace {

JournalEntry Key(std::uint32_t message, std::uint32_t vk, std::uint32_t scan, std::uint32_t delay,
                 bool extended = false) {
  return {1, {message, (scan << 8) | vk, extended ? 0x8001u : 1u, delay, 0}};
}
JournalEntry Button(std::uint32_t message, std::uint32_t x, std::uint32_t y, std::uint32_t delay) {
  return {1, {message, x, y, delay, 0}};
}
constexpr std::uint32_t kShift = 0x10, kShiftScan = 0x2A, kA = 0x41, kAScan = 0x1E;

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

TEST_F(HeldInputTest, LeftAndRightCtrlAreTwoHeldKeysAndAPauseReleasesBoth) {
  constexpr std::uint32_t kCtrl = 0x11, kCtrlScan = 0x1D;
  Play({Key(WM_KEYDOWN, kCtrl, kCtrlScan, 10), Key(WM_KEYDOWN, kCtrl, kCtrlScan, 10, true),
        Move(1, 1, 500), Move(0, 0, 0)},
       40);
  const auto released = SentAtOnce();
  ASSERT_EQ(released.size(), 2u) << "the right key is no auto-repeat of the left";
  EXPECT_EQ(released[0], (EVENTMSG{WM_KEYUP, kCtrlScan << 8 | kCtrl, 0x8001, 0, 0}));
  EXPECT_EQ(released[1], (EVENTMSG{WM_KEYUP, kCtrlScan << 8 | kCtrl, 1, 0, 0}));
  EXPECT_EQ(Count(p.Log(), "Released 2 held keys and buttons."), 1);
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_EQ(Count(p.Log(), "Restored 2 held keys and buttons."), 1);
}

TEST_F(HeldInputTest, AKeyUpWithAnotherScanCodeEndsTheHold) {
  // A journal from another input path may spell the release's scan code
  // differently: the virtual-key code decides, so nothing is left held.
  Play({Key(WM_KEYDOWN, kA, kAScan, 10), Key(WM_KEYUP, kA, 0, 10), Move(1, 1, 500), Move(0, 0, 0)},
       40);
  EXPECT_TRUE(SentAtOnce().empty()) << "a pause releases nothing";
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_TRUE(SentAtOnce().empty()) << "and Continue presses nothing again";
  EXPECT_TRUE(p.sim.HeldKeys().empty());
}

TEST_F(HeldInputTest, ARefusedContinueStillHandsOverTheEntryHandedOverBeforeThePause) {
  Play({Move(1, 1, 10), Move(2, 2, 100), Move(3, 3, 10), Move(0, 0, 0)}, 50);
  p.sim.FailHook(WH_JOURNALPLAYBACK, true);
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_EQ(p.LastLog(), "Could not start playback: the system refused the playback hook.");
  ASSERT_NE(p.Dlg().state, Playing);
  p.sim.FailHook(WH_JOURNALPLAYBACK, false);
  p.sim.Click(p.main, IDC_PLAY);
  p.sim.Advance(1000);
  std::vector<std::uint32_t> xs;
  for (const auto& e : p.sim.Processed()) xs.push_back(e.event.paramL);
  EXPECT_EQ(xs, (std::vector<std::uint32_t>{1, 2, 3}));
}

}  // namespace
}  // namespace vesk::testing
