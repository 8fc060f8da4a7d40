#include "platform/win32/event_translation.h"

namespace vesk::win32 {

namespace {

constexpr std::uint32_t kExtendedKey = 0x8000;  // in paramH, as journals store it

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

}  // namespace

EVENTMSG FromLowLevelKey(WPARAM message, const ::KBDLLHOOKSTRUCT& key) {
  EVENTMSG e;
  e.message = static_cast<std::uint32_t>(message);
  e.paramL = ((key.scanCode & 0xFFu) << 8) | (GenericKey(key.vkCode) & 0xFFu);
  e.paramH = 1u | ((key.flags & LLKHF_EXTENDED) != 0 ? kExtendedKey : 0u);
  e.time = key.time;
  return e;
}

EVENTMSG FromLowLevelMouse(WPARAM message, const ::MSLLHOOKSTRUCT& mouse) {
  EVENTMSG e;
  e.message = static_cast<std::uint32_t>(message);
  e.paramL = static_cast<std::uint32_t>(mouse.pt.x);
  e.paramH = static_cast<std::uint32_t>(mouse.pt.y);
  e.time = mouse.time;
  if (message == WM_MOUSEWHEEL) {
    // The wheel's signed delta travels in the window-handle field.
    const auto delta = static_cast<std::int16_t>(HIWORD(mouse.mouseData));
    e.hwnd = static_cast<std::uint32_t>(static_cast<std::int32_t>(delta));
  }
  return e;
}

bool IsInjected(const ::KBDLLHOOKSTRUCT& key) { return (key.flags & LLKHF_INJECTED) != 0; }
bool IsInjected(const ::MSLLHOOKSTRUCT& mouse) { return (mouse.flags & LLMHF_INJECTED) != 0; }

EVENTMSG FromSystemEvent(const ::EVENTMSG& event) {
  EVENTMSG e;
  e.message = event.message;
  e.paramL = event.paramL;
  e.paramH = event.paramH;
  e.time = event.time;
  // Window handles have 32 significant bits; truncating keeps them whole.
  e.hwnd = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(event.hwnd));
  return e;
}

::EVENTMSG ToSystemEvent(const EVENTMSG& event) {
  ::EVENTMSG e{};
  e.message = event.message;
  e.paramL = event.paramL;
  e.paramH = event.paramH;
  e.time = event.time;
  // A 32-bit handle widens by sign extension.
  e.hwnd =
      reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(event.hwnd)));
  return e;
}

Injection ToInjection(const EVENTMSG& event) {
  Injection out;
  const std::uint32_t m = event.message;
  if (IsKeyMessage(m)) {
    if ((event.paramL & 0xFFFFu) == 0) return out;  // names no key at all
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = static_cast<WORD>(event.paramL & 0xFFu);
    in.ki.wScan = static_cast<WORD>((event.paramL >> 8) & 0xFFu);
    if ((event.paramH & kExtendedKey) != 0) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    if (m == WM_KEYUP || m == WM_SYSKEYUP) in.ki.dwFlags |= KEYEVENTF_KEYUP;
    out.input = in;
    return out;
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
      flags = MOUSEEVENTF_WHEEL;
      data = event.hwnd;  // the signed delta, see FromLowLevelMouse
      break;
    default:
      return out;
  }
  out.cursor = POINT{static_cast<LONG>(static_cast<std::int32_t>(event.paramL)),
                     static_cast<LONG>(static_cast<std::int32_t>(event.paramH))};
  if (flags != 0) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    in.mi.mouseData = data;
    out.input = in;
  }
  return out;
}

}  // namespace vesk::win32
