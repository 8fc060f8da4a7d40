// Conversions between journal records and Win32 input records.
#include "platform/win32/event_translation.h"

#include <algorithm>
#include <limits>

namespace vesk::win32 {

namespace {

constexpr std::uint32_t kExtendedKey = 0x8000;  // in paramH, as journals store it
constexpr DWORD kVirtualDesk = 0x4000;          // MOUSEEVENTF_VIRTUALDESK
constexpr int kOneNotch = 120;                  // WHEEL_DELTA

// Journals carry the generic modifier codes; the low-level hook reports
// which side was pressed.
std::uint32_t GenericKey(std::uint32_t vk) {
  switch (vk) {
    case VK_LSHIFT:
    case VK_RSHIFT:
      return VK_SHIFT;
    case VK_LCONTROL:
    case VK_RCONTROL:
      return VK_CONTROL;
    case VK_LMENU:
    case VK_RMENU:
      return VK_MENU;
    default:
      return vk;
  }
}

bool IsKeyMessage(std::uint32_t m) {
  return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP;
}

std::int32_t Signed(std::uint32_t v) { return static_cast<std::int32_t>(v); }

}  // namespace

EVENTMSG FromLowLevelKey(WPARAM message, const ::KBDLLHOOKSTRUCT& key, std::uint32_t time) {
  EVENTMSG e;
  e.message = static_cast<std::uint32_t>(message);
  e.paramL = ((key.scanCode & 0xFFu) << 8) | (GenericKey(key.vkCode) & 0xFFu);
  e.paramH = 1u | ((key.flags & LLKHF_EXTENDED) != 0 ? kExtendedKey : 0u);
  e.time = time;
  return e;
}

EVENTMSG FromLowLevelMouse(WPARAM message, const ::MSLLHOOKSTRUCT& mouse, std::uint32_t time) {
  EVENTMSG e;
  e.message = static_cast<std::uint32_t>(message);
  e.paramL = static_cast<std::uint32_t>(mouse.pt.x);
  e.paramH = static_cast<std::uint32_t>(mouse.pt.y);
  e.time = time;
  if (message == WM_MOUSEWHEEL || message == WM_MOUSEHWHEEL) {
    // The wheel's signed delta travels in the window-handle field.
    const auto delta = static_cast<std::int16_t>(HIWORD(mouse.mouseData));
    e.hwnd = static_cast<std::uint32_t>(static_cast<std::int32_t>(delta));
  } else if (message == WM_XBUTTONDOWN || message == WM_XBUTTONUP) {
    e.hwnd = HIWORD(mouse.mouseData);  // which side button
  }
  return e;
}

bool IsInjected(const ::KBDLLHOOKSTRUCT& key) { return (key.flags & LLKHF_INJECTED) != 0; }
bool IsInjected(const ::MSLLHOOKSTRUCT& mouse) { return (mouse.flags & LLMHF_INJECTED) != 0; }

EVENTMSG FromSystemEvent(const ::EVENTMSG& event, std::optional<int> wheelDelta) {
  EVENTMSG e;
  e.message = event.message;
  e.paramL = event.paramL;
  e.paramH = event.paramH;
  e.time = event.time;
  if (event.message == WM_MOUSEWHEEL || event.message == WM_MOUSEHWHEEL) {
    e.hwnd = static_cast<std::uint32_t>(static_cast<std::int32_t>(wheelDelta.value_or(kOneNotch)));
  } else if (event.message == WM_XBUTTONDOWN || event.message == WM_XBUTTONUP) {
    e.hwnd = static_cast<std::uint32_t>(wheelDelta.value_or(XBUTTON1));
  } else {
    // Window handles have 32 significant bits; truncating keeps them whole.
    e.hwnd = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(event.hwnd));
  }
  return e;
}

::EVENTMSG ToSystemEvent(const EVENTMSG& event) {
  ::EVENTMSG e{};
  e.message = event.message;
  e.paramL = event.paramL;
  e.paramH = event.paramH;
  e.time = event.time;
  const std::uint32_t m = event.message;
  if (m == WM_MOUSEWHEEL || m == WM_MOUSEHWHEEL || m == WM_XBUTTONDOWN || m == WM_XBUTTONUP) {
    // See WheelForJournalPlayback: the system moves the pointer there, we
    // post the turn or the button. One the record does not name (a damaged
    // file's) is posted nowhere: the system is never handed it, just as
    // SendInput is not.
    e.message = WM_MOUSEMOVE;
    return e;
  }
  // A 32-bit handle widens by sign extension.
  e.hwnd = reinterpret_cast<HWND>(static_cast<std::intptr_t>(Signed(event.hwnd)));
  return e;
}

std::optional<JournalWheel> WheelForJournalPlayback(const EVENTMSG& event) {
  const std::uint32_t m = event.message;
  if (m == WM_XBUTTONDOWN || m == WM_XBUTTONUP) {
    if (!NamesSideButton(event)) return std::nullopt;
    return JournalWheel{static_cast<int>(event.hwnd), Signed(event.paramL), Signed(event.paramH),
                        m};
  }
  if (m != WM_MOUSEWHEEL && m != WM_MOUSEHWHEEL) return std::nullopt;
  const std::optional<int> delta = WheelDelta(event);
  if (!delta) return std::nullopt;
  return JournalWheel{*delta, Signed(event.paramL), Signed(event.paramH), m};
}

LONG NormalizeAbsolute(std::int64_t pixel, int origin, int extent) {
  if (extent <= 1) return 0;
  const std::int64_t last = static_cast<std::int64_t>(extent) - 1;
  const std::int64_t offset = std::clamp<std::int64_t>(pixel - origin, 0, last);
  // The middle of the pixel's share of 0..65536: the system maps it back to
  // this pixel whether it rounds (n * last / 65535) or truncates
  // (n * extent / 65536); Windows versions differ.
  return static_cast<LONG>(std::min<std::int64_t>((2 * offset + 1) * 32768 / extent, 65535));
}

int PixelFromAbsolute(LONG normalized, int origin, int extent) {
  if (extent <= 1) return origin;
  const std::int64_t last = static_cast<std::int64_t>(extent) - 1;
  const std::int64_t n = std::clamp<std::int64_t>(normalized, 0, 65535);
  return origin + static_cast<int>((n * last + 32767) / 65535);
}

std::optional<int> WheelDelta(const EVENTMSG& event) {
  const std::int32_t delta = Signed(event.hwnd);
  if (delta < std::numeric_limits<std::int16_t>::min() ||
      delta > std::numeric_limits<std::int16_t>::max()) {
    return std::nullopt;
  }
  return delta;
}

std::optional<INPUT> ToInput(const EVENTMSG& event, const DesktopRect& desktop) {
  const std::uint32_t m = event.message;
  INPUT in{};
  if (IsKeyMessage(m)) {
    if ((event.paramL & 0xFFFFu) == 0) return std::nullopt;  // names no key at all
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = static_cast<WORD>(event.paramL & 0xFFu);
    in.ki.wScan = static_cast<WORD>((event.paramL >> 8) & 0xFFu);
    if ((event.paramH & kExtendedKey) != 0) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    if (m == WM_KEYUP || m == WM_SYSKEYUP) in.ki.dwFlags |= KEYEVENTF_KEYUP;
    in.ki.dwExtraInfo = kInjectedByVesk;
    return in;
  }
  DWORD flags = 0;
  DWORD data = 0;
  switch (m) {
    case WM_MOUSEMOVE:
      break;
    case WM_LBUTTONDOWN:
      flags = MOUSEEVENTF_LEFTDOWN;
      break;
    case WM_LBUTTONUP:
      flags = MOUSEEVENTF_LEFTUP;
      break;
    case WM_RBUTTONDOWN:
      flags = MOUSEEVENTF_RIGHTDOWN;
      break;
    case WM_RBUTTONUP:
      flags = MOUSEEVENTF_RIGHTUP;
      break;
    case WM_MBUTTONDOWN:
      flags = MOUSEEVENTF_MIDDLEDOWN;
      break;
    case WM_MBUTTONUP:
      flags = MOUSEEVENTF_MIDDLEUP;
      break;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      const std::optional<int> delta = WheelDelta(event);
      if (!delta) return std::nullopt;
      flags = m == WM_MOUSEWHEEL ? MOUSEEVENTF_WHEEL : MOUSEEVENTF_HWHEEL;
      data = static_cast<DWORD>(*delta);
      break;
    }
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      if (!NamesSideButton(event)) return std::nullopt;
      flags = m == WM_XBUTTONDOWN ? MOUSEEVENTF_XDOWN : MOUSEEVENTF_XUP;
      data = event.hwnd;
      break;
    default:
      return std::nullopt;
  }
  in.type = INPUT_MOUSE;
  in.mi.dx = NormalizeAbsolute(Signed(event.paramL), desktop.left, desktop.width);
  in.mi.dy = NormalizeAbsolute(Signed(event.paramH), desktop.top, desktop.height);
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | kVirtualDesk;
  in.mi.mouseData = data;
  in.mi.dwExtraInfo = kInjectedByVesk;
  return in;
}

}  // namespace vesk::win32
