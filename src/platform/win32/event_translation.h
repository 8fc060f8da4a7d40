// Conversions between the records the engine exchanges (our EVENTMSG) and
// what Windows hands to or takes from hooks and SendInput.
//
// One meaning on every path: mouse positions are physical pixels of the
// virtual desktop (signed), and a wheel record carries the signed delta
// the low-level hook reports in its hwnd field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

// Marks the input this program injects, so that its own hooks can tell it
// from the user's (dwExtraInfo of every INPUT it sends).
inline constexpr ULONG_PTR kInjectedByVesk = 0x5645534Bu;

// Events arriving at the low-level hooks, as a journal-record hook sees
// them. The time stamp is the caller's (the hook's own has the coarse
// resolution of the system tick).
EVENTMSG FromLowLevelKey(WPARAM message, const ::KBDLLHOOKSTRUCT& key, std::uint32_t time);
EVENTMSG FromLowLevelMouse(WPARAM message, const ::MSLLHOOKSTRUCT& mouse, std::uint32_t time);
bool IsInjected(const ::KBDLLHOOKSTRUCT& key);
bool IsInjected(const ::MSLLHOOKSTRUCT& mouse);

// The journal hooks' own record: 64-bit Windows has an 8-byte window
// handle. For a wheel record the system's hwnd field names a window, so
// the delta comes from the low-level mouse hook that runs beside the
// journal hook (wheelDelta; one notch forward when it saw none). Side
// buttons take the button from there too (back when it saw none).
EVENTMSG FromSystemEvent(const ::EVENTMSG& event, std::optional<int> wheelDelta = std::nullopt);
::EVENTMSG ToSystemEvent(const EVENTMSG& event);

// A wheel turn or side button on the journal-playback path: the system
// cannot take the delta or the button from a journal record, so the record
// becomes a move to the same place and the message is posted: a wheel's to
// the window with the focus, a side button's to the window under it.
struct JournalWheel {
  int delta;  // the wheel's delta, or the side button
  int x;
  int y;
  std::uint32_t message = WM_MOUSEWHEEL;
};
std::optional<JournalWheel> WheelForJournalPlayback(const EVENTMSG& event);

// The virtual desktop (all monitors), in physical pixels.
struct DesktopRect {
  int left = 0;
  int top = 0;
  int width = 1;
  int height = 1;
};
// The live one (in dpi.cpp: it asks the display).
DesktopRect VirtualDesktop();

// A pixel coordinate as MOUSEEVENTF_ABSOLUTE|MOUSEEVENTF_VIRTUALDESK wants
// it: 0..65535 across the desktop; positions off the desktop clamp to its
// edge.
LONG NormalizeAbsolute(std::int64_t pixel, int origin, int extent);
// Where the system puts a normalised coordinate, read as the documentation
// has it (0 the first pixel, 65535 the last, nearest pixel between).
int PixelFromAbsolute(LONG normalized, int origin, int extent);

// The wheel delta a record carries, or nothing when it does not fit the
// 16 bits Windows gives it (a damaged or foreign journal).
std::optional<int> WheelDelta(const EVENTMSG& event);

// The one SendInput record that produces a recorded event again (mouse
// events carry their absolute position, so a click lands where it was
// recorded even when moves and clicks are queued together). Nothing for a
// message that is neither a key nor a mouse event, a key record naming no
// key, or a wheel delta out of range.
std::optional<INPUT> ToInput(const EVENTMSG& event, const DesktopRect& desktop);

}  // namespace vesk::win32
