// The system journal hooks: our records in Windows' own layout, and which
// path the automatic choice takes under Wine.
#include "input_support.h"

namespace vesk::testing {
namespace {

using SystemJournal = InputTest;

LResult HandOverOne(int code, WParam, LParam lParam) {
  g_log.codes.push_back(code);
  if (code != HC_GETNEXT) return 0;
  *reinterpret_cast<EVENTMSG*>(lParam) = {WM_KEYDOWN, 0x1E41, 0x8001, 33, 0x80000010u};
  return 33;
}

TEST_F(SystemJournal, PlaybackProcedureHandsOurRecordToWindowsInItsOwnLayout) {
  Win32Backend backend(JournalMode::System);
  g_log.backend = &backend;
  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &HandOverOne);
  ASSERT_NE(g_log.hook, 0u);  // Wine installs it, but never calls it: we call it as Windows would
  EXPECT_FALSE(backend.EmulatingJournal(WH_JOURNALPLAYBACK));
  ::EVENTMSG sys{};
  EXPECT_EQ(HookBridge::SystemJournalPlaybackProc(HC_GETNEXT, 0, reinterpret_cast<LPARAM>(&sys)),
            33);
  EXPECT_EQ(sys.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(sys.paramL, 0x1E41u);
  EXPECT_EQ(sys.paramH, 0x8001u);
  EXPECT_EQ(sys.time, 33u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sys.hwnd), 0xFFFFFFFF80000010ull);
  EXPECT_EQ(HookBridge::SystemJournalPlaybackProc(HC_SKIP, 0, 0), 0);
  EXPECT_EQ(g_log.codes, (std::vector<int>{HC_GETNEXT, HC_SKIP}));
  EXPECT_TRUE(backend.UnhookWindowsHookEx(g_log.hook));
  EXPECT_FALSE(backend.UnhookWindowsHookEx(g_log.hook));
}

TEST_F(SystemJournal, RecordHookTranslatesInputAimedAtOurOwnWindow) {
  Win32Backend backend(JournalMode::System);
  g_log.backend = &backend;
  TargetEdit target(100, 100, 500, 200);
  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &CollectRecord);
  ASSERT_NE(g_log.hook, 0u);
  EXPECT_FALSE(backend.EmulatingJournal(WH_JOURNALRECORD));
  ASSERT_TRUE(Xdotool("key q"));
  ASSERT_TRUE(PumpUntil([] { return Has(g_log.recorded, WM_KEYUP, 0x1051, 1); }, 10000))
      << Dump(g_log.recorded) << " text: " << target.Text();
  EXPECT_TRUE(Has(g_log.recorded, WM_KEYDOWN, 0x1051, 1));
  backend.UnhookWindowsHookEx(g_log.hook);
}

TEST_F(SystemJournal, AutomaticChoiceUnderWineIsTheLowLevelPath) {
  ASSERT_TRUE(win32::RunningOnWine());
  EXPECT_FALSE(win32::SystemJournalHooksExpected());
  Win32Backend backend(JournalMode::Automatic);
  g_log.backend = &backend;
  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &CollectRecord);
  ASSERT_NE(g_log.hook, 0u);
  EXPECT_TRUE(backend.EmulatingJournal(WH_JOURNALRECORD));
  backend.UnhookWindowsHookEx(g_log.hook);
  EXPECT_FALSE(backend.EmulatingJournal(WH_JOURNALRECORD));
}

}  // namespace
}  // namespace vesk::testing
