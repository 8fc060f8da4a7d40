// Side buttons and sideways scrolling for real under Wine: X buttons 8/9
// and 6/7 are recorded by the low-level path with the button or delta in
// hwnd, and replayed through SendInput into a real window.
#include <gtest/gtest.h>

#include <vector>

#include "platform/win32/system_checks.h"
#include "platform/win32/win32_backend.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

using win32::Win32Backend;

struct Heard {
  std::vector<EVENTMSG> recorded;
  std::vector<std::pair<UINT, int>> window;  // message and button or delta
  Win32Backend* backend = nullptr;
  HookHandle hook = 0;
};
Heard g_heard;

LResult Collect(int code, WParam wParam, LParam lParam) {
  if (code == HC_ACTION) g_heard.recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return g_heard.backend->CallNextHookEx(g_heard.hook, code, wParam, lParam);
}

LRESULT CALLBACK Listen(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_XBUTTONDOWN || message == WM_XBUTTONUP) {
    g_heard.window.emplace_back(message, GET_XBUTTON_WPARAM(wParam));
    return TRUE;
  }
  if (message == WM_MOUSEHWHEEL) {
    g_heard.window.emplace_back(message, GET_WHEEL_DELTA_WPARAM(wParam));
    return 0;
  }
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

std::vector<EVENTMSG> SideInput(const std::vector<EVENTMSG>& events) {
  std::vector<EVENTMSG> out;
  for (const EVENTMSG& e : events) {
    if (e.message == WM_XBUTTONDOWN || e.message == WM_XBUTTONUP || e.message == WM_MOUSEHWHEEL) {
      out.push_back(e);
    }
  }
  return out;
}

TEST(SideButtons, RecordedFromXButtonsAndReplayedIntoARealWindow) {
  g_heard = Heard{};
  Win32Backend backend(win32::JournalMode::LowLevel);
  g_heard.backend = &backend;
  WNDCLASSA wc{};
  wc.lpfnWndProc = &Listen;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "VeskTestSideButtons";
  ::RegisterClassA(&wc);
  HWND window = ::CreateWindowExA(0, wc.lpszClassName, "side", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  100, 100, 500, 300, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ::SetForegroundWindow(window);
  ::SetFocus(window);
  PumpUntil([] { return false; }, 200);
  g_heard.hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &Collect);
  ASSERT_NE(g_heard.hook, 0u);

  const std::vector<std::pair<UINT, int>> expected = {
      {WM_XBUTTONDOWN, 1}, {WM_XBUTTONUP, 1},      {WM_XBUTTONDOWN, 2},
      {WM_XBUTTONUP, 2},   {WM_MOUSEHWHEEL, -120}, {WM_MOUSEHWHEEL, 120}};
  ASSERT_TRUE(Xdotool("mousemove 300 250 click 8 click 9 click 6 click 7"));
  ASSERT_TRUE(PumpUntil([] { return SideInput(g_heard.recorded).size() >= 6; }, 10000))
      << SideInput(g_heard.recorded).size();
  ASSERT_TRUE(PumpUntil([&] { return g_heard.window.size() >= 4; }, 5000));
  const std::vector<EVENTMSG> side = SideInput(g_heard.recorded);
  ASSERT_EQ(side.size(), expected.size());
  for (std::size_t i = 0; i < side.size(); ++i) {
    EXPECT_EQ(side[i].message, expected[i].first) << i;
    EXPECT_EQ(static_cast<std::int32_t>(side[i].hwnd), expected[i].second) << i;
    EXPECT_EQ(side[i].paramL, 300u) << i;
  }
  backend.UnhookWindowsHookEx(g_heard.hook);

  // The journal's records, replayed: the window hears the same buttons and
  // deltas, from the program's own input this time.
  g_heard.window.clear();
  ASSERT_EQ(backend.SendInput(side), side.size());
  ASSERT_TRUE(PumpUntil([&] { return g_heard.window.size() >= expected.size(); }, 5000))
      << g_heard.window.size();
  EXPECT_EQ(g_heard.window, expected);
  ::DestroyWindow(window);
}

}  // namespace
}  // namespace vesk::testing
