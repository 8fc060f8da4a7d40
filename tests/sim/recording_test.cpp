// Recording: the lines the log and the script get for each event, the
// journal's delays, and the state that outlives a recording.
#include "harness.h"

#include "script/script_export.h"

namespace vesk::testing {
namespace {

constexpr std::uint32_t VK_A = 0x41;
constexpr std::uint32_t SCAN_A = 0x1E;

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    p.Start();
    p.sim.Click(p.main, IDC_RECORD);
    start = p.Log().size();
  }
  std::vector<std::string> Lines() { return p.LogSince(start); }
  SimProgram p;
  std::size_t start = 0;
};

TEST_F(Recording, MouseMoveLineGoesToLogAndScriptWithCrLf) {
  p.sim.MouseMove(512, 384);
  EXPECT_EQ(Lines(), std::vector<std::string>{"MouseMove(512, 384)"});
  EXPECT_EQ(ScriptText(), "MouseMove(512, 384)\r\n");
  ASSERT_EQ(p.Dlg().journal.Count(), 1);
  EXPECT_EQ(p.Dlg().journal.At(0).tag, 1);
}

TEST_F(Recording, NegativeCoordinatesAreWrittenSigned) {
  // A monitor left of the primary one; the journal keeps the same bits.
  p.sim.MouseMove(-100, -5);
  EXPECT_EQ(Lines(), std::vector<std::string>{"MouseMove(-100, -5)"});
  EXPECT_EQ(ScriptText(), "MouseMove(-100, -5)\r\n");
  EXPECT_EQ(p.Dlg().journal.At(0).event.paramL, 0xFFFFFF9Cu);
}

TEST_F(Recording, MouseButtonsWheelAndUnknownMessages) {
  p.sim.MouseButton(WM_LBUTTONDOWN, 1, 1);
  p.sim.MouseButton(WM_LBUTTONUP, 1, 1);
  p.sim.MouseButton(WM_RBUTTONDOWN, 1, 1);
  p.sim.MouseButton(WM_RBUTTONUP, 1, 1);
  p.sim.MouseButton(WM_MBUTTONDOWN, 1, 1);
  p.sim.MouseButton(WM_MBUTTONUP, 1, 1);
  p.sim.Wheel(1, 1, -120);
  p.sim.Input({0x020B, 1, 2, 0, 0});
  EXPECT_EQ(Lines(), (std::vector<std::string>{"MouseDown(\"left\")", "MouseUp(\"left\")",
                                               "MouseDown(\"right\")", "MouseUp(\"right\")",
                                               "MouseDown(\"middle\")", "MouseUp(\"middle\")",
                                               "Unidentified event: XXX"}));
  EXPECT_EQ(p.Dlg().journal.Count(), 8) << "the wheel is journalled without a line";
  EXPECT_EQ(p.Dlg().journal.At(6).event.message, WM_MOUSEWHEEL);
  EXPECT_EQ(ScriptText().substr(ScriptText().size() - 25), "Unidentified event: XXX\r\n");
}

TEST_F(Recording, HeldKeyGivesOneDownAndOneUpButEveryEventIsJournalled) {
  p.sim.KeyDown(VK_A, SCAN_A);
  p.sim.KeyDown(VK_A, SCAN_A);
  p.sim.KeyDown(VK_A, SCAN_A);
  p.sim.KeyUp(VK_A, SCAN_A);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Send(\"{a DOWN}\")", "Send(\"{a UP}\")"}));
  EXPECT_EQ(p.Dlg().journal.Count(), 4);
}

TEST_F(Recording, AMouseMoveBetweenRepeatsGivesASecondDownLine) {
  p.sim.KeyDown(VK_A, SCAN_A);
  p.sim.MouseMove(10, 10);
  p.sim.KeyDown(VK_A, SCAN_A);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Send(\"{a DOWN}\")", "MouseMove(10, 10)",
                                               "Send(\"{a DOWN}\")"}));
}

TEST_F(Recording, ShiftMakesCapitalsAndUnnamedKeysGiveNoLine) {
  p.sim.KeyDown(0x10, 0x2A);  // left Shift
  p.sim.KeyDown(VK_A, SCAN_A);
  p.sim.KeyUp(VK_A, SCAN_A);
  p.sim.KeyUp(0x10, 0x2A);
  p.sim.KeyDown(0x70, 0x3B);  // F1 as the system reports it: no name
  p.sim.KeyDown(VK_A, SCAN_A, false, /*sys=*/true);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Send(\"{LSHIFT DOWN}\")", "Send(\"{A DOWN}\")",
                                               "Send(\"{A UP}\")", "Send(\"{LSHIFT UP}\")",
                                               "Send(\"{a DOWN}\")"}));
  EXPECT_EQ(p.Dlg().journal.Count(), 6);
}

TEST_F(Recording, DelaysAreTimedFromRecordAndBetweenEvents) {
  p.sim.Advance(25);
  p.sim.MouseMove(1, 1);
  p.sim.MouseMove(2, 2);  // same time stamp
  p.sim.Advance(7);
  p.sim.MouseMove(3, 3);
  const auto& j = p.Dlg().journal;
  ASSERT_EQ(j.Count(), 3);
  EXPECT_EQ(j.At(0).event.time, 25u);
  EXPECT_EQ(j.At(1).event.time, 0u);
  EXPECT_EQ(j.At(2).event.time, 7u);
  EXPECT_EQ(j.At(2).event.paramL, 3u);
}

TEST_F(Recording, AnEventStampedBeforeTheRecordClickGetsNoHugeDelay) {
  // Sent straight to the hook procedure, as a system would for an event
  // generated just before recording started.
  p.sim.Do([&] {
    EVENTMSG early{WM_MOUSEMOVE, 4, 4, p.Dlg().lastEventTime - 3, 0};
    p.Dlg().RecordStep(HC_ACTION, 0, reinterpret_cast<LParam>(&early));
  });
  ASSERT_EQ(p.Dlg().journal.Count(), 1);
  EXPECT_EQ(p.Dlg().journal.At(0).event.time, 0u);
}

TEST_F(Recording, TwoRecordingsAccumulateInTheScript) {
  p.sim.MouseMove(1, 2);
  p.sim.CtrlBreak();
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);
  EXPECT_EQ(p.Dlg().journal.Count(), 0);
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.MouseMove(3, 4);
  EXPECT_EQ(ScriptText(), "MouseMove(1, 2)\r\nSend(\"{LCTRL DOWN}\")\r\nMouseMove(3, 4)\r\n");
}

// The recording step's state and the key-name lock, across recordings.
class RecordingState : public ::testing::Test {
 protected:
  void SetUp() override { p.Start(); }
  void Record() {
    p.sim.Click(p.main, IDC_RECORD);
    from = p.Log().size();
  }
  void PauseAndStop() {
    p.sim.CtrlBreak();
    p.sim.AnswerMessageBox(IDNO);
    p.sim.Click(p.main, IDC_STOP);
  }
  std::vector<std::string> Lines() { return p.LogSince(from); }
  SimProgram p;
  std::size_t from = 0;
};

TEST_F(RecordingState, KeyUpsRepeatOnceAndSystemKeysGetLines) {
  Record();
  p.sim.KeyDown(0x12, 0x38, false, true);  // Alt
  p.sim.KeyDown(0x12, 0x38, false, true);
  p.sim.KeyUp(0x12, 0x38, false, true);
  p.sim.KeyUp(0x12, 0x38, false, true);  // a second up of the same key: no line
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Send(\"{LALT DOWN}\")", "Send(\"{LALT UP}\")"}));
  EXPECT_EQ(p.Dlg().journal.Count(), 4);
  EXPECT_EQ(p.sim.MutexOwnCount("getKeyCodeStringMutex"), 0) << "released after every lookup";
  EXPECT_GE(p.sim.MutexWaits(), 4);
}

TEST_F(RecordingState, ShiftCapsLockAndTheLastKeyOutliveARecording) {
  Record();
  p.sim.KeyDown(0x14, 0x3A);  // Caps Lock on
  p.sim.KeyUp(0x14, 0x3A);
  PauseAndStop();  // ends with the Ctrl key-down of Ctrl+Break
  Record();
  p.sim.KeyDown(VK_CONTROL, 0x1D);  // the same key down again: a repeat, no line
  p.sim.KeyUp(VK_CONTROL, 0x1D);
  p.sim.KeyDown(0x41, 0x1E);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Send(\"{LCTRL UP}\")", "Send(\"{A DOWN}\")"}))
      << "Caps Lock still on, last key still Ctrl down";
  p.sim.KeyUp(0x41, 0x1E);
  p.sim.KeyDown(0x10, 0x2A);  // Shift held into the next recording
  PauseAndStop();
  Record();
  p.sim.KeyDown(0x14, 0x3A);  // Caps Lock off
  p.sim.KeyUp(0x14, 0x3A);
  p.sim.KeyDown(0x41, 0x1E);
  EXPECT_EQ(Lines().back(), "Send(\"{A DOWN}\")") << "Shift is still down";
}

}  // namespace
}  // namespace vesk::testing
