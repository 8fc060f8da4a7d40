// Hooks of other programs: Vesk's procedures hand events on to the next
// one, and a window that is gone gets no hook call.
#include "harness.h"

namespace vesk::testing {
namespace {

// Hooks of another program installed before Vesk's, so Vesk's come first
// and must call the next one.
struct OtherProgram {
  static inline int recorded = 0;
  static inline std::vector<std::uint32_t> keys;
  static inline int playbackAnswers = 0;
  static inline bool behindVesk = false;
  static LResult Record(int code, WParam, LParam) {
    if (code == HC_ACTION) ++recorded;
    return 0;
  }
  static LResult Keyboard(int, WParam wParam, LParam lParam) {
    const auto* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if (wParam == WM_KEYDOWN) keys.push_back(k->vkCode);
    return 0;
  }
  // Behind Vesk's hook it asks the system to wait 7 ms more the first time
  // it is reached and lets the event go the second time; alone, before and
  // after, it has nothing to play for a long while.
  static LResult Playback(int code, WParam, LParam) {
    if (!behindVesk || code != HC_GETNEXT) return 100'000;
    switch (playbackAnswers++) {
      case 0:
        return 7;
      case 1:
        return 0;
      default:
        return 100'000;
    }
  }
};

TEST(HookChain, EveryProcedureHandsEventsOnToTheNextProgram) {
  OtherProgram::recorded = 0;
  OtherProgram::keys.clear();
  OtherProgram::playbackAnswers = 0;
  OtherProgram::behindVesk = false;
  SimProgram p;
  ASSERT_NE(p.sim.SetWindowsHookEx(WH_KEYBOARD_LL, &OtherProgram::Keyboard), 0u);
  ASSERT_NE(p.sim.SetWindowsHookEx(WH_JOURNALRECORD, &OtherProgram::Record), 0u);
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.MouseMove(1, 2);
  p.sim.KeyDown(0x41, 0x1E);
  p.sim.KeyUp(0x41, 0x1E);
  p.sim.CtrlBreak();
  // The move, the key, and Ctrl+Break but its swallowed Break down: the
  // other program's hook stays in after Vesk's pause.
  EXPECT_EQ(OtherProgram::recorded, 6);
  EXPECT_EQ(OtherProgram::keys, (std::vector<std::uint32_t>{0x41, VK_CONTROL}))
      << "every key-down but the swallowed Break";
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);

  WriteJournal("j.alg", {Move(1, 1, 10), Move(2, 2, 10)});
  p.sim.Do([] { Sys().SetWindowsHookEx(WH_JOURNALPLAYBACK, &OtherProgram::Playback); });
  OtherProgram::behindVesk = true;
  p.Play(p.dir.File("j.alg"));
  const auto start = p.sim.Now();
  p.sim.Advance(100);
  ASSERT_EQ(p.sim.Processed().size(), 1u);
  EXPECT_EQ(p.sim.Processed()[0].at, start + 10 + 7) << "the next playback hook's wait counts";
}

TEST(HookChain, AWindowThatIsGoneGetsNoHookCall) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  const auto lines = p.Log().size();
  // Ctrl+Break is still on its way when the window closes; the keyboard
  // hook outlives the window and sees it after the window is destroyed.
  p.sim.Do([&] {
    p.sim.CtrlBreak();
    p.Main().sink->HandleMessage(WM_CLOSE, 0, 0);
  });
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.Log().size(), lines) << "no pause reached the closed window";
  EXPECT_FALSE(p.sim.HookInstalled(WH_KEYBOARD_LL));
}

}  // namespace
}  // namespace vesk::testing
