// Input for real under Wine: X events from xdotool reach Wine as hardware
// input, the low-level path records them, SendInput replays journals, and
// the whole program pauses on Ctrl+Break and plays a scheduled run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "app/recorder_app.h"
#include "platform/win32/clock.h"
#include "platform/win32/dpi.h"
#include "platform/win32/hook_bridge.h"
#include "platform/win32/win32_backend.h"
#include "storage/journal.h"
#include "wine_support.h"

#include <wtsapi32.h>

namespace vesk::testing {
namespace {

using win32::HookBridge;
using win32::JournalMode;
using win32::Win32Backend;

// ---------------------------------------------------------------- hook procedures

// What the test's own hook procedures saw. Hook procedures are plain
// functions, so the state is global, reset by each test.
struct HookLog {
  Win32Backend* backend = nullptr;
  HookHandle hook = 0;
  std::vector<EVENTMSG> recorded;
  std::vector<int> codes;
  // Playback: the journal and its cursor, as the engine keeps them.
  std::vector<EVENTMSG> journal;
  std::size_t next = 0;
  bool fetchNext = true;
  EVENTMSG current{};
  WindowId host = 0;
  std::vector<std::int64_t> processedAtUs;  // when each event was consumed
};
HookLog g_log;

LResult CollectRecord(int code, WParam wParam, LParam lParam) {
  if (code == HC_ACTION) g_log.recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return g_log.backend->CallNextHookEx(g_log.hook, code, wParam, lParam);
}

std::int64_t NowUs() {
  LARGE_INTEGER f;
  LARGE_INTEGER c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<std::int64_t>(c.QuadPart * 1'000'000 / f.QuadPart);
}

// The playback protocol: HC_GETNEXT hands over the current event and how
// long to wait; asked again after the wait, it answers 0; HC_SKIP moves on.
LResult PlayJournal(int code, WParam wParam, LParam lParam) {
  g_log.codes.push_back(code);
  if (code == HC_SKIP) {
    g_log.processedAtUs.push_back(NowUs());
    g_log.fetchNext = true;
    return 0;
  }
  if (code != HC_GETNEXT) return 0;
  auto* out = reinterpret_cast<EVENTMSG*>(lParam);
  if (!g_log.fetchNext) {
    *out = g_log.current;
    return g_log.backend->CallNextHookEx(g_log.hook, code, wParam, lParam);
  }
  if (g_log.next == g_log.journal.size()) {
    g_log.backend->UnhookWindowsHookEx(g_log.hook);
    g_log.backend->EndModalLoop(g_log.host, 1);
    return 0;
  }
  g_log.current = g_log.journal[g_log.next++];
  g_log.fetchNext = false;
  *out = g_log.current;
  return static_cast<LResult>(g_log.current.time);
}

// Plays events through the low-level playback path in a modal run of a
// hidden window, as the engine does; 1 when every event was processed.
int PlayThroughHooks(Win32Backend& backend, const std::vector<EVENTMSG>& events) {
  g_log.backend = &backend;
  g_log.journal = events;
  g_log.next = 0;
  g_log.fetchNext = true;
  class Quiet : public WindowSink {
    LResult HandleMessage(std::uint32_t, WParam, LParam) override { return 0; }
  } sink;
  g_log.host = backend.CreateDialogWindow(*FindDialogTemplate(kProxyDialogTemplate), 0, &sink);
  if (g_log.host == 0) return -2;
  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &PlayJournal);
  if (g_log.hook == 0) return -3;
  static WindowId s_host;
  static Win32Backend* s_backend;
  s_host = g_log.host;
  s_backend = &backend;
  const UINT_PTR watchdog = ::SetTimer(
      nullptr, 0, 15000, [](HWND, UINT, UINT_PTR, DWORD) { s_backend->EndModalLoop(s_host, -1); });
  const int result = backend.RunModalLoop(g_log.host);
  ::KillTimer(nullptr, watchdog);
  backend.UnhookWindowsHookEx(g_log.hook);
  backend.DestroyWindow(g_log.host);
  return result;
}

bool Has(const std::vector<EVENTMSG>& events, std::uint32_t message, std::uint32_t paramL,
         std::uint32_t paramH) {
  return std::any_of(events.begin(), events.end(), [&](const EVENTMSG& e) {
    return e.message == message && e.paramL == paramL && e.paramH == paramH;
  });
}

std::size_t Count(const std::vector<EVENTMSG>& events, std::uint32_t message) {
  return static_cast<std::size_t>(std::count_if(
      events.begin(), events.end(), [&](const EVENTMSG& e) { return e.message == message; }));
}

std::string Dump(const std::vector<EVENTMSG>& events) {
  std::string out;
  char line[96];
  for (const EVENTMSG& e : events) {
    std::snprintf(line, sizeof(line), "{%x %x %x %u %x} ", e.message, e.paramL, e.paramH, e.time,
                  e.hwnd);
    out += line;
  }
  return out;
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override { g_log = HookLog{}; }
  void TearDown() override { g_log = HookLog{}; }
};

// ---------------------------------------------------------------- system journal hooks

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

// ---------------------------------------------------------------- low-level recording

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

std::vector<std::uint32_t> g_retrieved;  // what the message watch saw
LResult WatchMessages(int code, WParam, LParam lParam) {
  if (code != HC_ACTION) return 0;
  const std::uint32_t message = reinterpret_cast<const MSG*>(lParam)->message;
  g_retrieved.push_back(message);
  // A playback run in progress ends as the engine's would.
  if (message == WM_CANCELJOURNAL && g_log.host != 0) g_log.backend->EndModalLoop(g_log.host, -5);
  return 0;
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

// ---------------------------------------------------------------- low-level replay

using LowLevelReplay = InputTest;

TEST_F(LowLevelReplay, JournalPlaysIntoAnEditOnScheduleAndMovesThePointer) {
  // The same bytes a recording on Linux saves.
  const EVENTMSG events[] = {
      {WM_MOUSEMOVE, 300, 200, 0, 0},  {WM_LBUTTONDOWN, 300, 200, 40, 0},
      {WM_LBUTTONUP, 300, 200, 40, 0}, {WM_KEYDOWN, 0x2348, 1, 60, 0},
      {WM_KEYUP, 0x2348, 1, 30, 0},    {WM_KEYDOWN, 0x1749, 1, 30, 0},
      {WM_KEYUP, 0x1749, 1, 30, 0},    {WM_MOUSEMOVE, 520, 260, 70, 0},
  };
  std::string bytes;
  for (const EVENTMSG& e : events) {
    char record[kJournalRecordSize];
    EncodeEntry(JournalEntry{1, e}, record);
    bytes.append(record, sizeof(record));
  }
  Journal journal;
  AppendRecords(bytes, journal);
  ASSERT_EQ(journal.Size(), std::size(events));
  for (std::size_t i = 0; i < journal.Size(); ++i) g_log.journal.push_back(journal.At(i).event);

  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  g_log.backend = &backend;
  TargetEdit target(100, 100, 500, 200);
  ::SetCursorPos(10, 10);
  class Quiet : public WindowSink {
    LResult HandleMessage(std::uint32_t, WParam, LParam) override { return 0; }
  } sink;
  g_log.host = backend.CreateDialogWindow(*FindDialogTemplate(kProxyDialogTemplate), 0, &sink);
  ASSERT_NE(g_log.host, 0u);

  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &PlayJournal);
  ASSERT_NE(g_log.hook, 0u);
  EXPECT_TRUE(backend.EmulatingJournal(WH_JOURNALPLAYBACK));
  const std::int64_t start = NowUs();
  static WindowId s_host;
  static Win32Backend* s_backend;
  s_host = g_log.host;
  s_backend = &backend;
  const UINT_PTR watchdog = ::SetTimer(
      nullptr, 0, 15000, [](HWND, UINT, UINT_PTR, DWORD) { s_backend->EndModalLoop(s_host, -1); });
  const int result = backend.RunModalLoop(g_log.host);
  ::KillTimer(nullptr, watchdog);
  EXPECT_EQ(result, 1) << "playback did not finish";

  ASSERT_EQ(g_log.processedAtUs.size(), std::size(events));
  ASSERT_TRUE(PumpUntil([&] { return target.Text() == "hi"; }, 5000)) << target.Text();
  POINT cursor{};
  ::GetCursorPos(&cursor);
  EXPECT_EQ(cursor.x, 520);
  EXPECT_EQ(cursor.y, 260);

  // Absolute schedule: each event is consumed no earlier than the sum of
  // the waits before it.
  std::int64_t due = 0;
  std::int64_t worst = 0;
  for (std::size_t i = 0; i < std::size(events); ++i) {
    due += static_cast<std::int64_t>(events[i].time) * 1000;
    const std::int64_t late = g_log.processedAtUs[i] - start - due;
    EXPECT_GE(late, -1000) << "event " << i << " came early";
    worst = std::max(worst, late);
  }
  // How late is measured, not asserted: a loaded machine makes any bound
  // a coin toss (the benchmarks watch speed).
  RecordProperty("worst_lateness_us", std::to_string(worst));
  std::printf("replay: %zu events, worst lateness %lld us\n", std::size(events),
              static_cast<long long>(worst));
  EXPECT_FALSE(backend.EmulatingJournal(WH_JOURNALPLAYBACK));
  backend.DestroyWindow(g_log.host);
  InstallBackend(nullptr);
}

// What Windows reports with an administrator's window in front, or with
// the screen locked: playback ends with the reason, and nothing is sent.
TEST_F(LowLevelReplay, AnElevatedWindowOrALockedDesktopEndsPlaybackWithItsLine) {
  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  ASSERT_NE(backend.SetWindowsHookEx(WH_GETMESSAGE, &WatchMessages), 0u);
  win32::InjectionFacts elevated;
  elevated.foregroundIntegrity = SECURITY_MANDATORY_HIGH_RID;
  win32::InjectionFacts locked;
  locked.inputDesktopOurs = false;
  for (const auto& [facts, line] :
       {std::pair{elevated, win32::CancelReasonText(win32::CancelCause::ElevatedWindow)},
        {locked, win32::CancelReasonText(win32::CancelCause::DesktopCannotTakeInput)}}) {
    SCOPED_TRACE(line);
    g_retrieved.clear();
    g_log.processedAtUs.clear();
    backend.Hooks().SetFactsSource([f = facts] { return f; });
    ::SetCursorPos(640, 500);
    EXPECT_EQ(
        PlayThroughHooks(backend, {{WM_MOUSEMOVE, 100, 100, 0, 0}, {WM_KEYDOWN, 0x1E41, 1, 0, 0}}),
        -5);  // ended by the cancellation
    EXPECT_EQ(std::count(g_retrieved.begin(), g_retrieved.end(), WM_CANCELJOURNAL), 1);
    EXPECT_FALSE(backend.EmulatingJournal(WH_JOURNALPLAYBACK));
    EXPECT_EQ(backend.TakeCancelReason(), line);
    POINT p{};
    ::GetCursorPos(&p);
    EXPECT_EQ(p.x, 640);
    EXPECT_EQ(p.y, 500);
    EXPECT_TRUE(g_log.processedAtUs.empty());
  }
  EXPECT_EQ(win32::CancelReasonText(win32::CancelCause::ElevatedWindow),
            "Cannot send input to an elevated window; run Vesk as administrator to automate it.");
  InstallBackend(nullptr);
}

TEST_F(LowLevelReplay, MovesBeyondTheDesktopsEdgesStopAtThem) {
  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  const int right = ::GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1;
  ::SetCursorPos(640, 500);
  // A journal from a desktop with a monitor left of the primary one.
  ASSERT_EQ(PlayThroughHooks(backend, {{WM_MOUSEMOVE, static_cast<std::uint32_t>(-100), 5, 0, 0}}),
            1);
  POINT p{};
  ::GetCursorPos(&p);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 5);
  ASSERT_EQ(PlayThroughHooks(backend, {{WM_MOUSEMOVE, 5000, static_cast<std::uint32_t>(-7), 0, 0}}),
            1);
  ::GetCursorPos(&p);
  EXPECT_EQ(p.x, right);
  EXPECT_EQ(p.y, 0);
  InstallBackend(nullptr);
}

// A window on a thread of its own noting where clicks land, in physical
// screen pixels.
class ClickTarget {
 public:
  ClickTarget(int x, int y, int width, int height) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND hwnd, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == WM_LBUTTONDOWN) {
        POINT p{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
        ::ClientToScreen(hwnd, &p);
        s_clicks.push_back(p);
      }
      if (m == WM_MOUSEWHEEL) s_wheels.push_back(GET_WHEEL_DELTA_WPARAM(w));
      return ::DefWindowProcA(hwnd, m, w, l);
    };
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "VeskTestClicks";
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    ::RegisterClassA(&wc);
    s_clicks.clear();
    s_wheels.clear();
    hwnd_ = ::CreateWindowExA(0, wc.lpszClassName, "clicks", WS_POPUP | WS_VISIBLE, x, y, width,
                              height, nullptr, nullptr, wc.hInstance, nullptr);
    ::SetForegroundWindow(hwnd_);
    PumpUntil([] { return false; }, 100);
  }
  ~ClickTarget() { ::DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  static inline std::vector<POINT> s_clicks;
  static inline std::vector<int> s_wheels;

 private:
  HWND hwnd_ = nullptr;
};

TEST_F(LowLevelReplay, WheelTurnsAreRecordedAndReplayedAsTheSameDelta) {
  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  g_log.backend = &backend;
  ClickTarget target(200, 200, 400, 300);
  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &CollectRecord);
  ASSERT_NE(g_log.hook, 0u);
  ASSERT_TRUE(Xdotool("mousemove 400 350 click 4 click 5 click 5"));  // up, down, down
  ASSERT_TRUE(PumpUntil([] { return Count(g_log.recorded, WM_MOUSEWHEEL) == 3; }, 10000))
      << Dump(g_log.recorded);
  backend.UnhookWindowsHookEx(g_log.hook);
  ASSERT_TRUE(PumpUntil([] { return ClickTarget::s_wheels.size() == 3; }, 5000));
  const std::vector<int> live = ClickTarget::s_wheels;
  std::vector<EVENTMSG> wheel;
  for (const EVENTMSG& e : g_log.recorded) {
    if (e.message == WM_MOUSEWHEEL) wheel.push_back({e.message, e.paramL, e.paramH, 20, e.hwnd});
  }
  EXPECT_EQ(static_cast<std::int32_t>(wheel[0].hwnd), 120);
  EXPECT_EQ(static_cast<std::int32_t>(wheel[1].hwnd), -120);
  EXPECT_EQ(wheel[0].paramL, 400u);

  ClickTarget::s_wheels.clear();
  ASSERT_EQ(PlayThroughHooks(backend, wheel), 1);
  ASSERT_TRUE(PumpUntil([] { return ClickTarget::s_wheels.size() == 3; }, 5000))
      << ClickTarget::s_wheels.size();
  EXPECT_EQ(ClickTarget::s_wheels, live);
  EXPECT_EQ(ClickTarget::s_wheels, (std::vector<int>{120, -120, -120}));
  InstallBackend(nullptr);
}

// Run in a process of its own per DPI (see main.cpp: --dpi), with the
// Wine prefix's LogPixels set before it started.
TEST(Dpi, JournalClickLandsOnTheSamePhysicalPixelAndDialogTextFits) {
  const char* expected = std::getenv("VESK_EXPECT_DPI");
  if (expected == nullptr) GTEST_SKIP() << "run through --dpi=N";
  const int dpi = std::atoi(expected);
  HDC screen = ::GetDC(nullptr);
  const int logPixels = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  ASSERT_EQ(logPixels, dpi) << "the prefix's LogPixels did not take";
  EXPECT_GE(win32::CurrentDpiAwareness(), win32::DpiAwareness::PerMonitor);

  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  {
    ClickTarget target(300, 200, 600, 400);
    const std::uint32_t x = 777;
    const std::uint32_t y = 444;
    ASSERT_EQ(PlayThroughHooks(backend, {{WM_MOUSEMOVE, x, y, 0, 0},
                                         {WM_LBUTTONDOWN, x, y, 20, 0},
                                         {WM_LBUTTONUP, x, y, 20, 0}}),
              1);
    ASSERT_TRUE(PumpUntil([] { return !ClickTarget::s_clicks.empty(); }, 5000));
    EXPECT_EQ(ClickTarget::s_clicks.front().x, 777);
    EXPECT_EQ(ClickTarget::s_clicks.front().y, 444);
    RECT r{};
    ::GetWindowRect(target.hwnd(), &r);
    EXPECT_EQ(r.left, 300);  // physical, as created
    EXPECT_EQ(r.right, 900);
  }

  // Every caption fits its control in the font the dialog was laid out in.
  class Quiet : public WindowSink {
    LResult HandleMessage(std::uint32_t, WParam, LParam) override { return 0; }
  } sink;
  for (const int id : {kMainDialogTemplate, kSettingsDialogTemplate}) {
    const DialogTemplate& t = *FindDialogTemplate(id);
    const WindowId w = backend.CreateDialogWindow(t, 0, &sink);
    ASSERT_NE(w, 0u);
    HWND dialog = reinterpret_cast<HWND>(w);
    const auto font = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(dialog);
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICA tm{};
    ::GetTextMetricsA(dc, &tm);
    // Laid out for the DPI, not stretched: the font has the pixels the
    // DPI asks for.
    EXPECT_GE(tm.tmHeight + 1, t.fontPoints * dpi / 72) << "template " << id;
    for (const ControlTemplate& c : t.controls) {
      if (c.text == nullptr || *c.text == '\0' || c.id == -1) continue;
      if (c.kind == ControlKind::Edit || c.kind == ControlKind::ListBox ||
          c.kind == ControlKind::UpDown) {
        continue;
      }
      HWND control = ::GetDlgItem(dialog, c.id);
      ASSERT_NE(control, nullptr);
      RECT box{};
      ::GetClientRect(control, &box);
      std::string text = c.text;
      std::erase(text, '&');
      RECT need{0, 0, box.right, 0};
      const DWORD type = c.style & SS_TYPEMASK;
      const bool wraps = c.kind == ControlKind::StaticText &&
                         (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
      ::DrawTextA(dc, text.c_str(), -1, &need,
                  DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
      int room = box.right;
      if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton) {
        room -= ::GetSystemMetrics(SM_CXMENUCHECK) + 2;  // the box drawn before the text
      }
      EXPECT_LE(need.right - need.left, room) << "\"" << text << "\" at " << dpi << " dpi";
      EXPECT_LE(need.bottom - need.top, box.bottom) << "\"" << text << "\" at " << dpi << " dpi";
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(dialog, dc);
    backend.DestroyWindow(w);
  }
  InstallBackend(nullptr);
}

// ---------------------------------------------------------------- the whole program

// The lines of the main window's log (same process: strings can be read).
std::vector<std::string> LogOf(HWND main) {
  HWND list = ::GetDlgItem(main, IDC_LOG);
  std::vector<std::string> lines;
  const LRESULT n = ::SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    const LRESULT length = ::SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) break;
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    ::SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<std::size_t>(length));
    lines.push_back(line);
  }
  return lines;
}

// The program on its own thread, as vesk.exe runs it.
class ProgramThread {
 public:
  // lowLevelTimeout: how late Windows would let the hooks answer (0: Wine's never).
  explicit ProgramThread(DWORD lowLevelTimeout = 0)
      : thread_([this, lowLevelTimeout] {
          Win32Backend backend;
          backend.Hooks().SetLowLevelTimeout(lowLevelTimeout);
          threadId_ = ::GetCurrentThreadId();
          InstallBackend(&backend);
          RunProgram();
          InstallBackend(nullptr);
          done_ = true;
        }) {}
  ~ProgramThread() {
    if (!done_ && main_ != nullptr) Command(IDC_EXIT);
    PumpUntil([this] { return done_.load(); }, 10000);
    thread_.join();
  }

  HWND WaitMain() {
    PumpUntil([this] { return FindMain() != nullptr; }, 10000);
    if (main_ != nullptr) {
      // A real click on the log activates the window for the X server too.
      RECT r{};
      ::GetWindowRect(::GetDlgItem(main_, IDC_LOG), &r);
      Xdotool("mousemove " + std::to_string((r.left + r.right) / 2) + " " +
              std::to_string((r.top + r.bottom) / 2) + " click 1");
    }
    return main_;
  }
  void Command(int id) { ::PostMessageA(main_, WM_COMMAND, MakeCommandWParam(id, BN_CLICKED), 0); }
  std::string Title() const {
    char buffer[256] = {};
    ::GetWindowTextA(main_, buffer, sizeof(buffer));
    return buffer;
  }
  bool WaitTitle(const std::string& title) { return WaitTitleFor(title, 10000); }
  bool WaitTitleFor(const std::string& title, DWORD timeoutMs) {
    return PumpUntil([&] { return Title() == title; }, timeoutMs);
  }
  std::vector<std::string> Log() const { return LogOf(main_); }
  DWORD ThreadId() const { return threadId_; }
  bool WaitLogLine(const std::string& part) { return WaitLogLineFor(part, 10000); }
  bool Done() const { return done_; }
  // Presses a key until the recording shows it: Wine gives the X focus to
  // the window on its own time. Call while recording.
  bool TakeKeyboard() {
    for (int attempt = 0; attempt < 10; ++attempt) {
      if (!Xdotool("key a")) return false;
      if (WaitLogLineFor("{a UP}", 1000)) return true;
    }
    return false;
  }
  bool WaitLogLineFor(const std::string& part, DWORD timeoutMs) {
    return PumpUntil(
        [&] {
          const auto lines = Log();
          return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(part) != std::string::npos;
          });
        },
        timeoutMs);
  }

 private:
  HWND FindMain() {
    if (threadId_ == 0) return nullptr;
    ::EnumThreadWindows(
        threadId_,
        [](HWND hwnd, LPARAM self) -> BOOL {
          if (::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, IDC_LOG) != nullptr) {
            reinterpret_cast<ProgramThread*>(self)->main_ = hwnd;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    return main_;
  }

  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> done_{false};
  HWND main_ = nullptr;
  std::thread thread_;
};

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

// ---------------------------------------------------------------- vesk.exe, scheduled

std::string WindowsPath(std::string unixPath) {
  std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
  return "Z:" + unixPath;
}

void PutLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Writes the journal and a settings file that plays it at start-up, at
// recorded speed, once.
std::string PrepareScheduledRun(const TempDir& dir, const std::vector<EVENTMSG>& events) {
  std::string journal;
  for (const EVENTMSG& e : events) {
    PutLe32(journal, 1);
    for (std::uint32_t v : {e.message, e.paramL, e.paramH, e.time, e.hwnd}) PutLe32(journal, v);
  }
  const std::string journalPath = dir.File("scheduled.alg");
  WriteFile(journalPath, journal);
  // Repeat count 1, play at start-up, recorded speed, then the path.
  std::vector<char> record = {1, 0, 0, 0, 1, 1, static_cast<char>(journalPath.size())};
  record.insert(record.end(), journalPath.begin(), journalPath.end());
  std::string settings(record.begin(), record.end());
  WriteFile(dir.File("VeskSettings.auc"), settings);
  return settings;
}

PROCESS_INFORMATION StartVesk(const TempDir& dir) {
  std::string line(1, '"');
  line.append(WindowsPath(VESK_EXE)).push_back('"');
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const std::string cwd = dir.path().string();
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si,
                        &pi)) {
    pi.hProcess = nullptr;
  }
  return pi;
}

bool Exited(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

bool ShiftDown() { return (::GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0; }

TEST(ScheduledRun, CtrlBreakPausesThePlaybackReleasesWhatItHoldsAndTheProgramStaysOpen) {
  TempDir dir;
  // Shift goes down first and stays down for the whole journal.
  std::vector<EVENTMSG> events = {{WM_KEYDOWN, 0x2A10, 1, 0, 0}};
  for (std::uint32_t i = 0; i < 150; ++i) {
    events.push_back({WM_MOUSEMOVE, 200 + 3 * i, 700 - 2 * (i % 20), 40, 0});
  }
  PrepareScheduledRun(dir, events);
  ProgramThread program;
  ASSERT_NE(program.WaitMain(), nullptr);
  ASSERT_TRUE(
      PumpUntil([&] { return program.Title() == "PLAYING-(Vesk), <Ctrl+Break> to PAUSE"; }, 30000))
      << program.Title();
  ASSERT_TRUE(PumpUntil(ShiftDown, 5000)) << "the journal's Shift was not pressed";
  // Pressed until it lands: a second Ctrl+Break while paused only logs again.
  for (int attempt = 0; attempt < 10 && program.Title() != "PAUSED PLAYBACK - (Vesk)"; ++attempt) {
    ASSERT_TRUE(Xdotool("key ctrl+Pause"));
    program.WaitTitleFor("PAUSED PLAYBACK - (Vesk)", 1000);
  }
  ASSERT_EQ(program.Title(), "PAUSED PLAYBACK - (Vesk)");
  POINT paused{};
  ::GetCursorPos(&paused);
  // Nothing more is played: the pointer stays where the pause caught it.
  EXPECT_FALSE(PumpUntil(
      [&] {
        POINT now{};
        ::GetCursorPos(&now);
        return now.x != paused.x || now.y != paused.y;
      },
      400));
  const std::vector<std::string> log = program.Log();
  EXPECT_GE(std::count(log.begin(), log.end(), "PAUSED BY USER"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "PAUSED BY SYSTEM"), 0);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Playback cycle ended."), 0);
  // Sent at once through the backend: Shift is up again.
  EXPECT_EQ(std::count(log.begin(), log.end(), "Released 1 held key or button."), 1)
      << ::testing::PrintToString(log);
  EXPECT_FALSE(ShiftDown());
  EXPECT_FALSE(program.Done());
  // Continue Playback presses it again before playing on,
  program.Command(IDC_PLAY);
  EXPECT_TRUE(PumpUntil(ShiftDown, 5000)) << "Shift was not pressed again";
  const std::vector<std::string> resumed = program.Log();
  EXPECT_EQ(std::count(resumed.begin(), resumed.end(), "Restored 1 held key or button."), 1)
      << ::testing::PrintToString(resumed);
  // and the window closed in the middle of the run lets go of it.
  program.Command(IDC_EXIT);
  EXPECT_TRUE(PumpUntil([&] { return program.Done(); }, 10000));
  EXPECT_FALSE(ShiftDown());
  if (ShiftDown()) {  // never leave it down for the tests that follow
    INPUT up{};
    up.type = INPUT_KEYBOARD;
    up.ki.wVk = VK_SHIFT;
    up.ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(1, &up, sizeof(up));
  }
}

TEST(ScheduledRun, PlaysTheDefaultJournalAfterTenSecondsAndClosesItself) {
  TempDir dir;
  const std::string settings =
      PrepareScheduledRun(dir, {
                                   {WM_MOUSEMOVE, 760, 580, 0, 0},
                                   {WM_LBUTTONDOWN, 760, 580, 100, 0},
                                   {WM_LBUTTONUP, 760, 580, 60, 0},
                                   {WM_KEYDOWN, 0x2348, 1, 150, 0},
                                   {WM_KEYUP, 0x2348, 1, 40, 0},
                                   {WM_KEYDOWN, 0x1749, 1, 60, 0},
                                   {WM_KEYUP, 0x1749, 1, 40, 0},
                                   {WM_MOUSEMOVE, 900, 640, 60, 0},
                                   // The engine hands the last entry over but the cycle ends
                                   // before it is processed: this 'x' must not arrive.
                                   {WM_KEYDOWN, 0x2D58, 1, 40, 0},
                               });
  TargetEdit target(700, 500, 400, 200);
  ::SetCursorPos(650, 450);
  const ULONGLONG start = ::GetTickCount64();
  PROCESS_INFORMATION pi = StartVesk(dir);
  ASSERT_NE(pi.hProcess, nullptr);
  const bool exited = PumpUntil([&] { return Exited(pi.hProcess); }, 50000);
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  if (!exited) ::TerminateProcess(pi.hProcess, 1);
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  ASSERT_TRUE(exited) << "vesk.exe did not close itself";
  EXPECT_EQ(code, 0u);
  EXPECT_GE(elapsed, 10000u);
  std::printf("scheduled run: vesk.exe exited after %llu ms\n",
              static_cast<unsigned long long>(elapsed));
  EXPECT_TRUE(PumpUntil([&] { return target.Text() == "hi"; }, 2000)) << target.Text();
  POINT cursor{};
  ::GetCursorPos(&cursor);
  EXPECT_EQ(cursor.x, 900);
  EXPECT_EQ(cursor.y, 640);
  EXPECT_EQ(ReadFile(dir.File("VeskSettings.auc")), settings);  // never written on the way out
}

// The main window of another process, found by its log list.
HWND MainWindowOf(DWORD processId) {
  struct Search {
    DWORD pid;
    HWND found;
  } search{processId, nullptr};
  ::EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        if (pid == s->pid && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, IDC_LOG) != nullptr) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string TitleOf(HWND hwnd) {
  char buffer[256] = {};
  ::GetWindowTextA(hwnd, buffer, sizeof(buffer));
  return buffer;
}

// A task scheduler reads the exit status: a run that did not finish is
// not a success, even though the window stays open until closed.
TEST(ScheduledRun, CancelledRunLeavesTheWindowOpenAndExitsWithFailure) {
  TempDir dir;
  std::vector<EVENTMSG> events;
  for (std::uint32_t i = 0; i < 200; ++i) events.push_back({WM_MOUSEMOVE, 300 + i, 400, 40, 0});
  PrepareScheduledRun(dir, events);
  PROCESS_INFORMATION pi = StartVesk(dir);
  ASSERT_NE(pi.hProcess, nullptr);
  HWND main = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        main = MainWindowOf(pi.dwProcessId);
        return main != nullptr && TitleOf(main) == "PLAYING-(Vesk), <Ctrl+Break> to PAUSE";
      },
      30000));
  // Ctrl+Esc: the system's cancellation, pressed until it lands.
  for (int attempt = 0; attempt < 10 && TitleOf(main) != "PAUSED PLAYBACK - (Vesk)"; ++attempt) {
    ASSERT_TRUE(Xdotool("key ctrl+Escape"));
    PumpUntil([&] { return TitleOf(main) == "PAUSED PLAYBACK - (Vesk)"; }, 1000);
  }
  EXPECT_EQ(TitleOf(main), "PAUSED PLAYBACK - (Vesk)");
  EXPECT_FALSE(PumpUntil([&] { return Exited(pi.hProcess); }, 500)) << "closed by itself";
  ::PostMessageA(main, WM_COMMAND, MakeCommandWParam(IDC_EXIT, BN_CLICKED), 0);
  const bool exited = PumpUntil([&] { return Exited(pi.hProcess); }, 10000);
  if (!exited) ::TerminateProcess(pi.hProcess, 99);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  ASSERT_TRUE(exited);
  EXPECT_NE(code, 0u);
  std::printf("cancelled scheduled run: exit status %lu\n", static_cast<unsigned long>(code));
}

}  // namespace
}  // namespace vesk::testing
