// Replayed keys while the program's own window has the keyboard (Play
// leaves it there): they never act on it, and still reach other windows.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32/hook_bridge.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

using win32::HookBridge;
using win32::JournalMode;

struct Playing {
  HookBridge* engine = nullptr;
  HookHandle hook = 0;
  std::vector<EVENTMSG> journal;
  std::size_t next = 0;
  bool fetchNext = true;
};
Playing g_play;

// The playback protocol, as the engine's playback step answers it.
LResult Play(int code, WParam, LParam lParam) {
  if (code == HC_SKIP) {
    g_play.fetchNext = true;
    return 0;
  }
  if (code != HC_GETNEXT) return 0;
  auto* out = reinterpret_cast<EVENTMSG*>(lParam);
  if (g_play.fetchNext) {
    if (g_play.next == g_play.journal.size()) {
      g_play.engine->Remove(g_play.hook);
      return 0;
    }
    ++g_play.next;
    g_play.fetchNext = false;
  }
  *out = g_play.journal[g_play.next - 1];
  return 0;
}

// Keys Escape, Enter and A, down and up.
std::vector<EVENTMSG> Keys() {
  std::vector<EVENTMSG> keys;
  for (const std::uint32_t key : {0x011Bu, 0x1C0Du, 0x1E41u}) {
    keys.push_back({WM_KEYDOWN, key, 1, 0, 0});
    keys.push_back({WM_KEYUP, key, 1, 0, 0});
  }
  return keys;
}

bool PlayAll(HookBridge& engine) {
  g_play = Playing{&engine, 0, Keys()};
  g_play.hook = engine.Install(WH_JOURNALPLAYBACK, &Play);
  if (g_play.hook == 0) return false;
  return PumpUntil(
      [&] {
        engine.DrivePlayback();
        return !engine.Emulating(WH_JOURNALPLAYBACK);
      },
      5000);
}

std::atomic<int> g_ownKeys{0};
std::atomic<bool> g_typedUp{false};
LRESULT CALLBACK CountKeys(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // B is the real key that shows the window has the keyboard; the rest is replayed.
  const bool typed = wParam == 'B' || wParam == 'b';
  if ((message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR) && !typed) ++g_ownKeys;
  if (message == WM_KEYUP && typed) g_typedUp = true;
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST(OwnWindow, ReplayedKeysNeverActOnTheProgramsOwnWindowButReachOthers) {
  HookBridge engine(JournalMode::LowLevel);
  WNDCLASSA wc{};
  wc.lpfnWndProc = &CountKeys;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "VeskTestOwnWindow";
  ::RegisterClassA(&wc);
  HWND own = ::CreateWindowExA(0, wc.lpszClassName, "own", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                               100, 400, 200, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(own, nullptr);
  engine.SetOwnWindows([own](HWND hwnd) { return hwnd == own; });
  ::SetForegroundWindow(own);
  ::SetFocus(own);
  // The window takes typed keys: the real keyboard still reaches it.
  g_ownKeys = 0;
  g_typedUp = false;
  ASSERT_TRUE(Xdotool("key b"));
  ASSERT_TRUE(PumpUntil([] { return g_typedUp.load(); }, 5000));
  ASSERT_TRUE(PlayAll(engine));
  PumpUntil([] { return false; }, 300);  // whatever arrives would arrive by now
  EXPECT_EQ(g_ownKeys, 0) << "replayed keys acted on our own window";
  ::DestroyWindow(own);

  // Another program's window (here another thread's edit) gets them all.
  std::atomic<HWND> edit{nullptr};
  std::thread other([&] {
    HWND hwnd = ::CreateWindowExA(0, "EDIT", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400,
                                  200, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ::SetForegroundWindow(hwnd);
    ::SetFocus(hwnd);
    edit = hwnd;
    ::MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    ::DestroyWindow(hwnd);
  });
  ASSERT_TRUE(PumpUntil([&] { return edit.load() != nullptr; }, 5000));
  PumpUntil([] { return false; }, 200);
  ASSERT_TRUE(PlayAll(engine));
  char text[16] = {};
  EXPECT_TRUE(PumpUntil(
      [&] {
        ::GetWindowTextA(edit, text, sizeof(text));
        return std::string(text) == "a";
      },
      5000))
      << text;
  ::PostMessageA(edit, WM_QUIT, 0, 0);
  other.join();
}

}  // namespace
}  // namespace vesk::testing
