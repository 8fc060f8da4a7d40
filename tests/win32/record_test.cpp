// Low-level recording for real under Wine: X events from xdotool reach
// Wine as hardware input and become journal records; Ctrl+Break, Ctrl+Esc
// and a locked session end it.
#include "input_support.h"

namespace vesk::testing {
namespace {

using LowLevelRecord = InputTest;

TEST_F(LowLevelRecord, RealInputBecomesJournalRecordsAndInjectedInputDoesNot) {
  Win32Backend backend(JournalMode::LowLevel);
  g_log.backend = &backend;
  TargetEdit target(100, 100, 500, 200);
  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &CollectRecord);
  ASSERT_NE(g_log.hook, 0u);
  ASSERT_TRUE(Xdotool("mousemove 300 200 click 1 key a shift+b"));
  ASSERT_TRUE(PumpUntil([] { return Has(g_log.recorded, WM_KEYUP, 0x3042, 1); }, 10000));
  ASSERT_TRUE(PumpUntil([&] { return target.Text() == "aB"; }, 5000)) << target.Text();

  // Input the program sends itself is not recorded, but still arrives.
  INPUT z[2] = {};
  z[0].type = z[1].type = INPUT_KEYBOARD;
  z[0].ki.wVk = z[1].ki.wVk = 'Z';
  z[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ASSERT_EQ(::SendInput(2, z, sizeof(INPUT)), 2u);
  ASSERT_TRUE(PumpUntil([&] { return target.Text() == "aBz"; }, 5000)) << target.Text();

  const std::vector<EVENTMSG>& r = g_log.recorded;
  EXPECT_TRUE(Has(r, WM_MOUSEMOVE, 300, 200));
  EXPECT_TRUE(Has(r, WM_LBUTTONDOWN, 300, 200));
  EXPECT_TRUE(Has(r, WM_LBUTTONUP, 300, 200));
  EXPECT_TRUE(Has(r, WM_KEYDOWN, 0x1E41, 1));
  EXPECT_TRUE(Has(r, WM_KEYUP, 0x1E41, 1));
  EXPECT_TRUE(Has(r, WM_KEYDOWN, 0x2A10, 1));  // left shift, stored as VK_SHIFT
  EXPECT_TRUE(Has(r, WM_KEYDOWN, 0x3042, 1));
  EXPECT_EQ(Count(r, WM_KEYDOWN), 3u);
  for (const EVENTMSG& e : r) EXPECT_NE(e.paramL & 0xFFu, static_cast<std::uint32_t>('Z'));
  for (std::size_t i = 1; i < r.size(); ++i) {
    EXPECT_LE(static_cast<std::int32_t>(r[i - 1].time - r[i].time), 0) << "out of order at " << i;
  }

  // Once the hook is gone nothing more is recorded.
  ASSERT_TRUE(backend.UnhookWindowsHookEx(g_log.hook));
  const std::size_t before = r.size();
  ASSERT_TRUE(Xdotool("key c"));
  ASSERT_TRUE(PumpUntil([&] { return target.Text() == "aBzc"; }, 5000)) << target.Text();
  EXPECT_EQ(r.size(), before);
}

int g_breaks = 0;  // Ctrl+Break key-downs the program's watch saw
LResult WatchBreak(int code, WParam wParam, LParam lParam) {
  const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
  if (code == HC_ACTION && wParam == WM_KEYDOWN && key->vkCode == VK_CANCEL) ++g_breaks;
  return 0;
}

LResult KeepRecord(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_log.recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return 0;
}

// A window on a thread of its own that notes the keys reaching it, so that
// it keeps taking input while the test's thread is blocked.
class KeyWindowThread {
 public:
  KeyWindowThread() {
    thread_ = std::thread([this] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = [](HWND hwnd, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        auto* self = reinterpret_cast<KeyWindowThread*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self != nullptr && (m == WM_KEYDOWN || m == WM_SYSKEYDOWN)) {
          std::lock_guard lock(self->mutex_);
          self->keys_.push_back(static_cast<DWORD>(w));
        }
        return ::DefWindowProcA(hwnd, m, w, l);
      };
      wc.hInstance = ::GetModuleHandleA(nullptr);
      wc.lpszClassName = "VeskTestKeys";
      ::RegisterClassA(&wc);
      hwnd_ = ::CreateWindowExA(0, wc.lpszClassName, "keys", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                                100, 400, 200, nullptr, nullptr, wc.hInstance, nullptr);
      ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      ::SetForegroundWindow(hwnd_);
      ::SetFocus(hwnd_);
      ready_ = true;
      ::MSG msg;
      while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
      ::DestroyWindow(hwnd_);
    });
    while (!ready_) ::Sleep(1);
  }
  ~KeyWindowThread() {
    ::PostMessageA(hwnd_, WM_QUIT, 0, 0);
    thread_.join();
  }
  std::vector<DWORD> Keys() {
    std::lock_guard lock(mutex_);
    return keys_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    keys_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<DWORD> keys_;
  std::atomic<bool> ready_{false};
  HWND hwnd_ = nullptr;
  std::thread thread_;
};

TEST_F(LowLevelRecord, CaptureAndCtrlBreakHoldWhileTheInterfaceThreadIsBlockedForThreeSeconds) {
  HookBridge engine(JournalMode::LowLevel);
  EXPECT_EQ(engine.LowLevelTimeout(), 0u);  // Wine removes no hook that answers late
  engine.SetLowLevelTimeout(200);           // Windows would, after at most a second
  g_retrieved.clear();
  g_breaks = 0;
  KeyWindowThread target;
  ASSERT_NE(engine.Install(WH_GETMESSAGE, &WatchMessages), 0u);
  ASSERT_NE(engine.Install(WH_KEYBOARD_LL, &WatchBreak), 0u);
  ASSERT_NE(engine.Install(WH_JOURNALRECORD, &KeepRecord), 0u);
  // Wine hears X keys only while one of its windows has the X focus, which
  // it gives on its own time: press a key until the window sees it.
  bool focused = false;
  for (int attempt = 0; attempt < 10 && !focused; ++attempt) {
    ASSERT_TRUE(Xdotool("key z"));
    focused = PumpUntil(
        [&] {
          const std::vector<DWORD> keys = target.Keys();
          return std::count(keys.begin(), keys.end(), DWORD{'Z'}) > 0;
        },
        1000);
  }
  ASSERT_TRUE(focused);
  ASSERT_TRUE(PumpUntil([] { return Has(g_log.recorded, WM_KEYUP, 0x2C5A, 1); }, 5000));
  g_log.recorded.clear();
  target.Clear();

  // Typed while this thread (the one the engine's procedures run on)
  // dispatches nothing for three seconds.
  ASSERT_TRUE(Xdotool("sleep 0.3 key a b ctrl+Pause c"));
  const std::int64_t blockStart = NowUs();
  bool typedWhileBlocked = false;
  while (NowUs() - blockStart < 3'000'000) {
    const std::vector<DWORD> keys = target.Keys();
    typedWhileBlocked = std::count(keys.begin(), keys.end(), DWORD{'C'}) == 1;
    ::Sleep(20);  // deliberately no message dispatching here
  }
  const std::vector<DWORD> seen = target.Keys();
  EXPECT_TRUE(typedWhileBlocked) << "input waited for the blocked thread: " << seen.size();
  // Ctrl+Break is the program's own even while it cannot answer.
  EXPECT_EQ(std::count(seen.begin(), seen.end(), DWORD{VK_CANCEL}), 0);
  EXPECT_LT(engine.SlowestHookAnswerUs(), 200'000);
  std::printf("blocked interface: slowest hook answer %lld us\n",
              static_cast<long long>(engine.SlowestHookAnswerUs()));

  // What was captured meanwhile reaches the procedures, in order, afterwards.
  ASSERT_TRUE(PumpUntil([] { return Has(g_log.recorded, WM_KEYUP, 0x2E43, 1); }, 5000))
      << Dump(g_log.recorded);
  EXPECT_EQ(g_breaks, 1);
  std::vector<std::uint32_t> downs;
  for (const EVENTMSG& e : g_log.recorded) {
    if (e.message == WM_KEYDOWN) downs.push_back(e.paramL & 0xFFu);
  }
  EXPECT_EQ(downs, (std::vector<std::uint32_t>{'A', 'B', VK_CONTROL, 'C'})) << Dump(g_log.recorded);
  // Stamped when they happened, on the fine clock, not when handed over.
  const std::uint32_t handedOver = win32::TickMs();
  for (const EVENTMSG& e : g_log.recorded) {
    EXPECT_LT(static_cast<std::int32_t>(e.time - handedOver), -50) << Dump(g_log.recorded);
  }
  EXPECT_TRUE(engine.Emulating(WH_JOURNALRECORD));
  EXPECT_EQ(std::count(g_retrieved.begin(), g_retrieved.end(), WM_CANCELJOURNAL), 0);
}

TEST_F(LowLevelRecord, CtrlEscEndsTheJournalWithItsReasonAndNothingMoreIsRecorded) {
  HookBridge engine(JournalMode::LowLevel);
  g_retrieved.clear();
  TargetEdit target(100, 100, 500, 200);
  ASSERT_NE(engine.Install(WH_GETMESSAGE, &WatchMessages), 0u);
  ASSERT_NE(engine.Install(WH_JOURNALRECORD, &KeepRecord), 0u);
  ASSERT_TRUE(Xdotool("key ctrl+Escape e"));
  ASSERT_TRUE(PumpUntil(
      [] { return std::count(g_retrieved.begin(), g_retrieved.end(), WM_CANCELJOURNAL) == 1; },
      10000));
  EXPECT_FALSE(engine.Emulating(WH_JOURNALRECORD));
  EXPECT_EQ(engine.TakeCancelReason(), "Ctrl+Esc took input back.");
  EXPECT_EQ(engine.TakeCancelReason(), "");  // once
  EXPECT_TRUE(PumpUntil([&] { return target.Text() == "e"; }, 5000)) << target.Text();
  EXPECT_FALSE(Has(g_log.recorded, WM_KEYDOWN, 0x1245, 1)) << Dump(g_log.recorded);
}

// Wine never locks a session; the notification Windows sends then is
// sent here by hand, to the same window.
TEST_F(LowLevelRecord, ALockedSessionEndsRecordingAndNothingIsRecordedWhileAway) {
  HookBridge engine(JournalMode::LowLevel);
  TargetEdit target(100, 100, 500, 200);
  g_retrieved.clear();
  ASSERT_NE(engine.Install(WH_GETMESSAGE, &WatchMessages), 0u);
  ASSERT_NE(engine.Install(WH_JOURNALRECORD, &KeepRecord), 0u);
  // An unlock changes nothing; a lock takes the desktop away.
  ::SendMessageA(engine.HookThreadWindow(), WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 1);
  EXPECT_TRUE(engine.Emulating(WH_JOURNALRECORD));
  ::SendMessageA(engine.HookThreadWindow(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1);
  ASSERT_TRUE(PumpUntil(
      [] { return std::count(g_retrieved.begin(), g_retrieved.end(), WM_CANCELJOURNAL) == 1; },
      5000));
  EXPECT_FALSE(engine.Emulating(WH_JOURNALRECORD));
  EXPECT_EQ(engine.TakeCancelReason(), win32::CancelReasonText(win32::CancelCause::SessionLocked));
  ASSERT_TRUE(Xdotool("key w"));
  ASSERT_TRUE(PumpUntil([&] { return target.Text().find('w') != std::string::npos; }, 5000))
      << target.Text();
  EXPECT_TRUE(g_log.recorded.empty()) << Dump(g_log.recorded);
}

}  // namespace
}  // namespace vesk::testing
