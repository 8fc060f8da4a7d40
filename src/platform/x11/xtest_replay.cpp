// Journal records replayed as XTEST requests.
#include "platform/x11/xtest_replay.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/x11/key_map.h"

namespace vesk::x11 {

bool QueueXTestReplay(Display* ctrl, const EVENTMSG& e) {
  const int x = static_cast<std::int32_t>(e.paramL);
  const int y = static_cast<std::int32_t>(e.paramH);
  auto button = [&](unsigned b, bool down) {
    XTestFakeMotionEvent(ctrl, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(ctrl, b, down ? True : False, CurrentTime);
  };
  switch (e.message) {
    case WM_MOUSEMOVE:
      XTestFakeMotionEvent(ctrl, -1, x, y, CurrentTime);
      break;
    case WM_LBUTTONDOWN:
      button(1, true);
      break;
    case WM_LBUTTONUP:
      button(1, false);
      break;
    case WM_MBUTTONDOWN:
      button(2, true);
      break;
    case WM_MBUTTONUP:
      button(2, false);
      break;
    case WM_RBUTTONDOWN:
      button(3, true);
      break;
    case WM_RBUTTONUP:
      button(3, false);
      break;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      if (!NamesSideButton(e)) {
        std::fprintf(stderr, "vesk: side button %u in the journal is unknown; skipped\n", e.hwnd);
        return false;
      }
      button(e.hwnd == XBUTTON1 ? 8 : 9, e.message == WM_XBUTTONDOWN);
      break;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      const auto delta = static_cast<std::int32_t>(e.hwnd);
      const bool sideways = e.message == WM_MOUSEHWHEEL;
      const unsigned b = sideways ? (delta < 0 ? 6 : 7) : (delta < 0 ? 5 : 4);
      const std::int64_t magnitude = delta < 0 ? -static_cast<std::int64_t>(delta) : delta;
      const std::int64_t clicks = std::clamp<std::int64_t>(magnitude / 120, 1, 20);
      XTestFakeMotionEvent(ctrl, -1, x, y, CurrentTime);
      for (std::int64_t i = 0; i < clicks; ++i) {
        XTestFakeButtonEvent(ctrl, b, True, CurrentTime);
        XTestFakeButtonEvent(ctrl, b, False, CurrentTime);
      }
      break;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP: {
      const bool down = e.message == WM_KEYDOWN || e.message == WM_SYSKEYDOWN;
      const ScanCode scan{(e.paramL >> 8) & 0xFFu, (e.paramH & 0x8000u) != 0};
      unsigned keycode = KeycodeFromScan(scan);
      if (keycode == 0) {
        const KeySym sym = KeysymFromVk(e.paramL & 0xFFu);
        if (sym != 0) keycode = XKeysymToKeycode(ctrl, sym);
      }
      if (keycode == 0) {
        std::fprintf(stderr, "vesk: no key for code %u in the journal; skipped\n", e.paramL);
        return false;
      }
      XTestFakeKeyEvent(ctrl, keycode, down ? True : False, CurrentTime);
      break;
    }
    default:
      std::fprintf(stderr, "vesk: message 0x%x in the journal is not input; skipped\n", e.message);
      return false;
  }
  return true;
}

}  // namespace vesk::x11
