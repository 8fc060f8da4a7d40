// What the Windows input tests share: hook procedures that note what they
// see, a scripted journal played through the low-level path, and readers
// of the records.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/recorder_app.h"
#include "common/recording_sink.h"
#include "common/scripted_playback.h"
#include "platform/win32/clock.h"
#include "platform/win32/dpi.h"
#include "platform/win32/hook_bridge.h"
#include "platform/win32/win32_backend.h"
#include "storage/journal.h"
#include "wine_support.h"

#include <wtsapi32.h>

namespace vesk::testing {

using win32::HookBridge;
using win32::JournalMode;
using win32::Win32Backend;

// What the test's own hook procedures saw. Hook procedures are plain
// functions, so the state is global, reset by each test.
struct HookLog {
  Win32Backend* backend = nullptr;
  HookHandle hook = 0;
  std::vector<EVENTMSG> recorded;
  std::vector<int> codes;
  WindowId host = 0;
  std::vector<std::int64_t> processedAtUs;  // when each played event was consumed
};
inline HookLog g_log;

inline LResult CollectRecord(int code, WParam wParam, LParam lParam) {
  if (code == HC_ACTION) g_log.recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return g_log.backend->CallNextHookEx(g_log.hook, code, wParam, lParam);
}

inline std::vector<std::uint32_t> g_retrieved;  // what the message watch saw
inline LResult WatchMessages(int code, WParam, LParam lParam) {
  if (code != HC_ACTION) return 0;
  const std::uint32_t message = reinterpret_cast<const MSG*>(lParam)->message;
  g_retrieved.push_back(message);
  // A playback run in progress ends as the engine's would.
  if (message == WM_CANCELJOURNAL && g_log.host != 0) g_log.backend->EndModalLoop(g_log.host, -5);
  return 0;
}

inline std::int64_t NowUs() {
  LARGE_INTEGER f;
  LARGE_INTEGER c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<std::int64_t>(c.QuadPart * 1'000'000 / f.QuadPart);
}

// Plays events (each waiting its time field) through the low-level
// playback path in a modal run of a hidden window, as the engine does; 1
// when every event was processed. installed runs once the hook is in.
inline int PlayThroughHooks(Win32Backend& backend, const std::vector<EVENTMSG>& events,
                            const std::function<void()>& installed = {}) {
  g_log.backend = &backend;
  ScriptedPlayback play;
  for (const EVENTMSG& e : events) play.records.push_back({e, static_cast<LResult>(e.time)});
  play.onSkip = [](std::size_t) { g_log.processedAtUs.push_back(NowUs()); };
  RecordingSink sink;
  g_log.host = backend.CreateDialogWindow(*FindDialogTemplate(kProxyDialogTemplate), 0, &sink);
  if (g_log.host == 0) return -2;
  play.onEnd = [&backend] { backend.EndModalLoop(g_log.host, 1); };
  g_log.hook = play.Install(backend);
  if (g_log.hook == 0) return -3;
  if (installed) installed();
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

inline bool Has(const std::vector<EVENTMSG>& events, std::uint32_t message, std::uint32_t paramL,
                std::uint32_t paramH) {
  return std::any_of(events.begin(), events.end(), [&](const EVENTMSG& e) {
    return e.message == message && e.paramL == paramL && e.paramH == paramH;
  });
}

inline std::size_t Count(const std::vector<EVENTMSG>& events, std::uint32_t message) {
  return static_cast<std::size_t>(std::count_if(
      events.begin(), events.end(), [&](const EVENTMSG& e) { return e.message == message; }));
}

inline std::string Dump(const std::vector<EVENTMSG>& events) {
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

}  // namespace vesk::testing
