// Tests of the recorder's states and transitions.
#include "harness.h"

namespace vesk::testing {
namespace {

TEST(RecorderStates, CtrlBreakWhileStoppedOnlyLogsAndIsSwallowed) {
  SimProgram p;
  p.Start();
  const auto n = p.Log().size();
  p.sim.CtrlBreak();
  EXPECT_EQ(p.LogSince(n), std::vector<std::string>{"PAUSED BY USER"});
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_EQ(p.Title(), "STOPPED - (Vesk)");
  // Ctrl down, Break up and Ctrl up reach the desktop; the Break key-down does not.
  ASSERT_EQ(p.sim.Delivered().size(), 3u);
  for (const auto& e : p.sim.Delivered()) {
    EXPECT_FALSE(e.message == WM_KEYDOWN && (e.paramL & 0xFF) == VK_CANCEL);
  }
}

TEST(RecorderStates, PauseKeyWithoutCtrlAndSysKeyDownsPassThrough) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.KeyDown(VK_PAUSE, 0x45);
  p.sim.KeyDown(VK_CANCEL, 0x46, true, /*sys=*/true);
  EXPECT_EQ(p.Dlg().state, Recording);
  EXPECT_EQ(p.Dlg().journal.Count(), 2);
}

TEST(RecorderStates, RecordPauseTwiceContinueAndStop) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  EXPECT_EQ(p.Dlg().state, Recording);
  EXPECT_TRUE(p.sim.HookInstalled(WH_JOURNALRECORD));
  p.sim.MouseMove(1, 1);
  p.sim.CtrlBreak();
  EXPECT_EQ(p.Dlg().state, RecordingPausedByUser);
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALRECORD));
  // The recording ends with the Ctrl key-down; the Break key-down is not in it.
  ASSERT_EQ(p.Dlg().journal.Count(), 2);
  EXPECT_EQ(p.Dlg().journal.At(1).event.message, WM_KEYDOWN);
  EXPECT_EQ(p.Dlg().journal.At(1).event.paramL & 0xFF, VK_CONTROL);
  const auto n = p.Log().size();
  p.sim.CtrlBreak();
  EXPECT_EQ(p.LogSince(n), std::vector<std::string>{"PAUSED BY USER"});
  EXPECT_EQ(p.Dlg().state, RecordingPausedByUser);
  EXPECT_EQ(p.Title(), "PAUSED RECORDING - (Vesk)");
  EXPECT_EQ(p.Caption(IDC_RECORD), "Continue Recording");

  p.sim.Advance(500);
  p.sim.Click(p.main, IDC_RECORD);  // Continue Recording
  EXPECT_EQ(p.Dlg().state, Recording);
  EXPECT_EQ(p.Caption(IDC_RECORD), "Continue Recording");
  p.sim.Advance(40);
  p.sim.MouseMove(2, 2);
  EXPECT_EQ(p.Dlg().journal.At(2).event.time, 40u) << "timed from the Continue click";
  p.sim.CtrlBreak();
  EXPECT_EQ(p.Dlg().journal.Count(), 4);  // both stretches in one journal

  p.sim.AnswerMessageBox(IDNO);
  const auto m = p.Log().size();
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(p.LogSince(m), std::vector<std::string>{"Recording Stopped."});
  ASSERT_EQ(p.sim.MessageBoxes().size(), 1u);
  EXPECT_EQ(p.sim.MessageBoxes()[0].text,
            "Recording has been stopped, do you want to save Journal to file?");
  EXPECT_EQ(p.sim.MessageBoxes()[0].style, 0x2024u);
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_EQ(p.Dlg().journal.Count(), 0);
  EXPECT_EQ(p.Title(), "STOPPED - (Vesk)");
  EXPECT_TRUE(p.sim.FileDialogs().empty());
  EXPECT_TRUE(p.sim.Surprises().empty());
}

TEST(RecorderStates, InEveryPausedStateBreakAndCancellationOnlyLog) {
  SimProgram p;
  WriteJournal("j.alg", {Move(1, 1, 100), Move(2, 2, 100), Move(3, 3, 100)});
  p.Start();
  const auto check = [&](std::int32_t expected) {
    ASSERT_EQ(p.Dlg().state, expected);
    const auto title = p.Title();
    auto n = p.Log().size();
    p.sim.CtrlBreak();
    EXPECT_EQ(p.LogSince(n), std::vector<std::string>{"PAUSED BY USER"}) << expected;
    n = p.Log().size();
    p.sim.CtrlEsc();
    EXPECT_EQ(p.LogSince(n), (std::vector<std::string>{"PAUSED BY SYSTEM", "PAUSED BY SYSTEM"}))
        << expected;
    EXPECT_EQ(p.Dlg().state, expected);
    EXPECT_EQ(p.Title(), title);
    EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALRECORD));
    EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALPLAYBACK));
  };
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.CtrlBreak();
  check(RecordingPausedByUser);
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.CtrlEsc();
  check(RecordingPausedBySystem);
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);
  p.Play(p.dir.File("j.alg"));
  p.sim.CtrlBreak();
  check(PlaybackPausedByUser);
  p.sim.Click(p.main, IDC_PLAY);
  p.sim.CtrlEsc();
  check(PlaybackPausedBySystem);
  EXPECT_TRUE(p.sim.Surprises().empty());
}

TEST(RecorderStates, SystemCancellationPausesBySystem) {
  SimProgram p;
  p.Start();
  // The modal loop looks at WM_CANCELJOURNAL, then takes it: the watch hook
  // pauses on the first and only logs on the second.
  const std::vector<std::string> twice = {"PAUSED BY SYSTEM", "PAUSED BY SYSTEM"};
  auto n = p.Log().size();
  p.sim.CtrlEsc();
  EXPECT_EQ(p.LogSince(n), twice);
  EXPECT_EQ(p.Dlg().state, Stopped);

  p.sim.Click(p.main, IDC_RECORD);
  n = p.Log().size();
  p.sim.CtrlEsc();
  EXPECT_EQ(p.LogSince(n), twice);
  EXPECT_EQ(p.Dlg().state, RecordingPausedBySystem);
  EXPECT_EQ(p.Title(), "PAUSED RECORDING - (Vesk)");
  EXPECT_EQ(p.Main().exStyle & WS_EX_TRANSPARENT, 0u);
  EXPECT_EQ(p.Main().alpha, 255);
  p.sim.Click(p.main, IDC_RECORD);
  EXPECT_EQ(p.Dlg().state, Recording);
}

TEST(RecorderStates, RefusedHooksDoNotLeaveTheWindowPretending) {
  SimProgram p;
  p.Start();
  p.sim.FailHook(WH_JOURNALRECORD, true);
  p.sim.Click(p.main, IDC_RECORD);
  EXPECT_EQ(p.Dlg().state, RecordingPausedBySystem);
  EXPECT_EQ(p.LastLog(), "Could not start recording: the system refused the input hook.");
  EXPECT_TRUE(p.Enabled(IDC_STOP));
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(p.Dlg().state, Stopped);

  p.sim.FailHook(WH_JOURNALPLAYBACK, true);
  WriteJournal("j.alg", {Move(1, 1, 0)});
  p.Play(p.dir.File("j.alg"));
  EXPECT_EQ(p.Dlg().state, PlaybackPausedBySystem);
  EXPECT_EQ(p.LastLog(), "Could not start playback: the system refused the playback hook.");
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(p.Dlg().state, Stopped);
}

TEST(RecorderStates, CancelledOpenDialogStaysStopped) {
  SimProgram p;
  p.Start();
  const auto n = p.Log().size();
  p.sim.AnswerFileDialog(std::nullopt);
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_EQ(p.Log().size(), n);
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALPLAYBACK));
}

TEST(RecorderStates, RepeatCountDecidesThePasses) {
  for (int repeat : {3, 1, 0, -4}) {
    SimProgram p;
    WriteSettings(repeat, false, true, "x.alg");
    WriteJournal("j.alg", {Move(1, 1, 5), Move(2, 2, 5), Move(3, 3, 5)});
    p.Start();
    p.Play(p.dir.File("j.alg"));
    p.sim.Advance(1000);
    const auto log = p.Log();
    const long passes = repeat < 1 ? 1 : repeat;
    EXPECT_EQ(Count(log, "Playback cycle ended."), passes) << repeat;
    EXPECT_EQ(Count(log, "Playback stopped."), 1) << repeat;
    EXPECT_EQ(p.Dlg().cycle, passes + 1) << repeat;
    EXPECT_EQ(p.Dlg().state, Stopped);
    EXPECT_EQ(p.Dlg().journal.Count(), 0);
    EXPECT_TRUE(p.Running()) << "a run started by hand does not close the program";
    // Each pass hands over every entry but the last to the system.
    EXPECT_EQ(p.sim.Processed().size(), static_cast<std::size_t>(2 * passes)) << repeat;
  }
}

TEST(RecorderStates, PauseAndContinuePlaybackKeepsCycleAndPosition) {
  SimProgram p;
  WriteSettings(2, false, true, "x.alg");
  std::vector<JournalEntry> entries;
  for (std::uint32_t i = 1; i <= 6; ++i) entries.push_back(Move(i, i, 100));
  WriteJournal("j.alg", entries);
  p.Start();
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(250);  // two entries processed, the third waiting
  ASSERT_EQ(p.sim.Processed().size(), 2u);
  p.sim.CtrlBreak();
  EXPECT_EQ(p.Dlg().state, PlaybackPausedByUser);
  EXPECT_EQ(p.Caption(IDC_PLAY), "Continue Playback");
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALPLAYBACK));
  p.sim.Advance(5000);
  EXPECT_EQ(p.sim.Processed().size(), 2u);
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_EQ(p.Dlg().cycle, 1);
  EXPECT_EQ(p.Caption(IDC_PLAY), "Continue Playback");
  p.sim.Advance(2000);
  // The third entry was handed over before the pause but never processed:
  // it is handed over again, not lost.
  std::vector<std::uint32_t> xs;
  for (const auto& e : p.sim.Processed()) xs.push_back(e.event.paramL);
  EXPECT_EQ(xs, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));
  // The log numbering went on across the pause and restarted in pass 2.
  const auto log = p.Log();
  EXPECT_EQ(Count(log, "             3 Mouse Move: (3,3)   +100"), 2);
  EXPECT_EQ(Count(log, "             4 Mouse Move: (3,3)   +100"), 1);
  EXPECT_EQ(Count(log, "             7 Mouse Move: (6,6)   +100"), 1);
  EXPECT_EQ(Count(log, "             1 Mouse Move: (1,1)   +100"), 2);
  EXPECT_EQ(Count(log, "             6 Mouse Move: (6,6)   +100"), 1);
}

TEST(RecorderStates, StopWhilePlaybackPausedEndsTheRun) {
  SimProgram p;
  WriteJournal("j.alg", {Move(1, 1, 100), Move(2, 2, 100), Move(3, 3, 100)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  p.sim.CtrlEsc();
  EXPECT_EQ(p.Dlg().state, PlaybackPausedBySystem);
  EXPECT_EQ(p.LastLog(), "PAUSED BY SYSTEM");
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_EQ(p.LastLog(), "Playback stopped.");
  EXPECT_EQ(p.Dlg().journal.Count(), 0);
}

TEST(RecorderStates, ClosingTheWindowWhileRecordingRemovesTheJournalHook) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  ASSERT_TRUE(p.sim.HookInstalled(WH_JOURNALRECORD));
  p.sim.CloseBox(p.main);
  EXPECT_FALSE(p.Running());
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALRECORD));
  EXPECT_FALSE(p.sim.HookInstalled(WH_KEYBOARD_LL));
}

TEST(RecorderStates, ExitRemovesEveryHookIncludingNeverInstalledOnes) {
  SimProgram p;
  p.Start();
  p.sim.PressEscape();
  ASSERT_FALSE(p.Running());
  // Detach removes the two journal hooks; the process end removes all four.
  EXPECT_EQ(p.sim.HookRemoveCount(), 6);
}

}  // namespace
}  // namespace vesk::testing
