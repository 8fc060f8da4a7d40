// Conversions between the records the engine exchanges (our EVENTMSG) and
// what Windows hands to or takes from hooks and SendInput.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

// Events arriving at the low-level hooks, as a journal-record hook sees them.
EVENTMSG FromLowLevelKey(WPARAM message, const ::KBDLLHOOKSTRUCT& key);
EVENTMSG FromLowLevelMouse(WPARAM message, const ::MSLLHOOKSTRUCT& mouse);
bool IsInjected(const ::KBDLLHOOKSTRUCT& key);
bool IsInjected(const ::MSLLHOOKSTRUCT& mouse);

// The journal hooks' own record: 64-bit Windows has an 8-byte window handle.
EVENTMSG FromSystemEvent(const ::EVENTMSG& event);
::EVENTMSG ToSystemEvent(const EVENTMSG& event);

// How one recorded event is produced again: an optional pointer position,
// then at most one SendInput record.
struct Injection {
  std::optional<POINT> cursor;
  std::optional<INPUT> input;
};
// Nothing for a message that is neither a key nor a mouse event.
Injection ToInjection(const EVENTMSG& event);

}  // namespace vesk::win32
