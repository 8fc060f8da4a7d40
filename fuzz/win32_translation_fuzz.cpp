// The Win32 event translation from any hook record or journal event: never
// a crash, and the properties replay relies on hold.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/win32/event_translation.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::uint32_t U32() {
    std::uint32_t v = 0;
    const std::size_t n = size < 4 ? size : 4;
    std::memcpy(&v, data, n);
    data += n;
    size -= n;
    return v;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vesk::win32;
  Input in{data, size};
  const WPARAM message = in.U32() & 0xFFFF;

  ::KBDLLHOOKSTRUCT key{};
  key.vkCode = in.U32();
  key.scanCode = in.U32();
  key.flags = in.U32();
  key.time = in.U32();
  const vesk::EVENTMSG fromKey = FromLowLevelKey(message, key, key.time);
  if (fromKey.time != key.time || (fromKey.paramL >> 16) != 0) __builtin_trap();

  ::MSLLHOOKSTRUCT mouse{};
  mouse.pt.x = static_cast<LONG>(in.U32());
  mouse.pt.y = static_cast<LONG>(in.U32());
  mouse.mouseData = in.U32();
  mouse.flags = in.U32();
  mouse.time = in.U32();
  const vesk::EVENTMSG fromMouse = FromLowLevelMouse(message, mouse, mouse.time);
  IsInjected(key);
  IsInjected(mouse);

  vesk::EVENTMSG event;
  event.message = in.U32();
  event.paramL = in.U32();
  event.paramH = in.U32();
  event.time = in.U32();
  event.hwnd = in.U32();
  // The journal hooks' record carries every field there and back. A wheel
  // turn, a sideways turn and a side button are handed over as a move, their
  // amount or button posted apart, so their window field has no way back.
  const bool postedApart =
      event.message == WM_MOUSEWHEEL || event.message == vesk::WM_MOUSEHWHEEL ||
      event.message == vesk::WM_XBUTTONDOWN || event.message == vesk::WM_XBUTTONUP;
  if (!postedApart && !(FromSystemEvent(ToSystemEvent(event)) == event)) __builtin_trap();

  // A monitor left of the primary one.
  const DesktopRect desk{-1920, 0, 4480, 1440};
  for (const vesk::EVENTMSG& e : {fromKey, fromMouse, event}) {
    const std::optional<INPUT> out = ToInput(e, desk);
    if (out && out->type == INPUT_KEYBOARD) {
      if (out->ki.wVk != (e.paramL & 0xFF) || out->ki.wScan != ((e.paramL >> 8) & 0xFF))
        __builtin_trap();
    }
    if (out && out->type == INPUT_MOUSE) {
      // Every mouse event carries its place, on the desktop.
      if ((out->mi.dwFlags & (MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE)) !=
          (MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE)) {
        __builtin_trap();
      }
      if (out->mi.dx < 0 || out->mi.dx > 65535 || out->mi.dy < 0 || out->mi.dy > 65535)
        __builtin_trap();
    }
  }
  // A recorded wheel turn replays as the same signed amount.
  if (message == WM_MOUSEWHEEL) {
    const std::optional<INPUT> wheel = ToInput(fromMouse, desk);
    if (!wheel || static_cast<std::int16_t>(wheel->mi.mouseData) !=
                      static_cast<std::int16_t>(HIWORD(mouse.mouseData))) {
      __builtin_trap();
    }
  }
  return 0;
}
