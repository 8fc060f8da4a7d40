// The whole program on its own thread under Wine: Ctrl+Break and Ctrl+Esc
// while recording, also with a window that is busy.
#include "program_thread.h"

namespace vesk::testing {
namespace {

TEST(Program, CtrlBreakPausesRecordingAndNeverReachesTheJournal) {
  TempDir dir;
  ProgramThread program;
  ASSERT_NE(program.WaitMain(), nullptr);
  ASSERT_TRUE(program.WaitTitle("STOPPED - (Vesk)")) << program.Title();
  program.Command(IDC_RECORD);
  ASSERT_TRUE(program.WaitTitle("RECORDING - (Vesk), <Ctrl+Break> to PAUSE")) << program.Title();
  ASSERT_TRUE(program.TakeKeyboard()) << ::testing::PrintToString(program.Log());
  ASSERT_TRUE(Xdotool("key ctrl+Pause"));
  ASSERT_TRUE(program.WaitTitle("PAUSED RECORDING - (Vesk)")) << program.Title();
  const auto log = program.Log();
  const auto paused = std::find(log.begin(), log.end(), "PAUSED BY USER");
  ASSERT_NE(paused, log.end());
  ASSERT_NE(paused, log.begin());
  // The recording ends with the Ctrl key-down; the Break key-down was swallowed.
  EXPECT_EQ(*(paused - 1), "Send(\"{LCTRL DOWN}\")");
  EXPECT_EQ(std::count(log.begin(), log.end(), "PAUSED BY USER"), 1);
  program.Command(IDC_EXIT);
  EXPECT_TRUE(PumpUntil([&] { return program.Done(); }, 10000));
}

// Blocks the thread that retrieves the registered message "vesk-test-block"
// for three seconds, as a stalled dialog would.
UINT g_blockMessage = 0;
HHOOK g_blockHook = nullptr;
LRESULT CALLBACK BlockOnMessage(int code, WPARAM wParam, LPARAM lParam) {
  const auto* msg = reinterpret_cast<const ::MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == g_blockMessage) ::Sleep(3000);
  return ::CallNextHookEx(g_blockHook, code, wParam, lParam);
}

TEST(Program, CtrlBreakAndRecordingHoldWhileTheWindowIsBusyForThreeSeconds) {
  TempDir dir;
  ProgramThread program(200);  // hooks that answered late would count as removed
  ASSERT_NE(program.WaitMain(), nullptr);
  program.Command(IDC_RECORD);
  ASSERT_TRUE(program.WaitTitle("RECORDING - (Vesk), <Ctrl+Break> to PAUSE")) << program.Title();
  ASSERT_TRUE(program.TakeKeyboard()) << ::testing::PrintToString(program.Log());
  g_blockMessage = ::RegisterWindowMessageA("vesk-test-block");
  g_blockHook = ::SetWindowsHookExA(WH_GETMESSAGE, &BlockOnMessage, nullptr, program.ThreadId());
  ASSERT_NE(g_blockHook, nullptr);
  ASSERT_TRUE(Xdotool("sleep 0.3 key x ctrl+Pause"));
  const std::int64_t start = NowUs();
  ::PostThreadMessageA(program.ThreadId(), g_blockMessage, 0, 0);
  ASSERT_TRUE(program.WaitTitle("PAUSED RECORDING - (Vesk)")) << program.Title();
  EXPECT_GE(NowUs() - start, 2'900'000) << "the window was not busy";
  ::UnhookWindowsHookEx(g_blockHook);
  const auto log = program.Log();
  const auto paused = std::find(log.begin(), log.end(), "PAUSED BY USER");
  ASSERT_NE(paused, log.end()) << ::testing::PrintToString(log);
  EXPECT_EQ(std::count(log.begin(), log.end(), "PAUSED BY SYSTEM"), 0);
  EXPECT_NE(std::find(log.begin(), paused, "Send(\"{x DOWN}\")"), paused)
      << ::testing::PrintToString(log);
  EXPECT_EQ(*(paused - 1), "Send(\"{LCTRL DOWN}\")");
  program.Command(IDC_EXIT);
  EXPECT_TRUE(PumpUntil([&] { return program.Done(); }, 10000));
}

TEST(Program, CtrlEscCancelsRecordingAsTheSystemDoes) {
  TempDir dir;
  ProgramThread program;
  ASSERT_NE(program.WaitMain(), nullptr);
  program.Command(IDC_RECORD);
  ASSERT_TRUE(program.WaitTitle("RECORDING - (Vesk), <Ctrl+Break> to PAUSE")) << program.Title();
  ASSERT_TRUE(program.TakeKeyboard()) << ::testing::PrintToString(program.Log());
  ASSERT_TRUE(Xdotool("key ctrl+Escape"));
  ASSERT_TRUE(program.WaitTitle("PAUSED RECORDING - (Vesk)"))
      << program.Title() << ::testing::PrintToString(program.Log());
  EXPECT_TRUE(program.WaitLogLine("PAUSED BY SYSTEM")) << ::testing::PrintToString(program.Log());
  program.Command(IDC_EXIT);
  EXPECT_TRUE(PumpUntil([&] { return program.Done(); }, 10000));
}

}  // namespace
}  // namespace vesk::testing
