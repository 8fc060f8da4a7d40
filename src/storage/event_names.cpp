// The one table of message names (see event_names.h).
#include "storage/event_names.h"

#include <array>

namespace vesk {

namespace {

using A = EventArgs;
using K = EventKind;

constexpr std::array<EventName, 14> kNames{{
    {WM_MOUSEMOVE, " Mouse Move: ", "MouseMove", "move", A::Position, K::Move},
    {WM_LBUTTONDOWN, " Mouse Left Btn Down: ", "MouseDown(\"left\")", "left-down", A::Position,
     K::Click},
    {WM_LBUTTONUP, " Mouse Left Btn Up: ", "MouseUp(\"left\")", "left-up", A::Position, K::Click},
    {WM_RBUTTONDOWN, " Mouse Right Btn Down: ", "MouseDown(\"right\")", "right-down", A::Position,
     K::Click},
    {WM_RBUTTONUP, " Mouse Right Btn Up: ", "MouseUp(\"right\")", "right-up", A::Position,
     K::Click},
    {WM_MBUTTONDOWN, " Mouse Mid Btn Down: ", "MouseDown(\"middle\")", "middle-down", A::Position,
     K::Click},
    {WM_MBUTTONUP, " Mouse Mid Btn Up: ", "MouseUp(\"middle\")", "middle-up", A::Position,
     K::Click},
    {WM_MOUSEWHEEL, " Mouse Wheel: ", nullptr, "wheel", A::PositionAmount, K::Wheel},
    {WM_KEYDOWN, " Keyboard key down: ", " DOWN", "key-down", A::Key, K::Key},
    {WM_KEYUP, " Keyboard key up: ", " UP", "key-up", A::Key, K::Key},
    {WM_SYSKEYDOWN, " Keyboard sys. key down: ", " DOWN", "sys-key-down", A::Key, K::Key},
    {WM_SYSKEYUP, " Keyboard sys. key up: ", " UP", "sys-key-up", A::Key, K::Key},
    // Side buttons: no backend records or replays them; the text form still
    // names them so a journal from elsewhere reads well.
    {WM_XBUTTONDOWN, nullptr, "Unidentified event: XXX", "side-down", A::PositionButton, K::Side},
    {WM_XBUTTONUP, nullptr, "Unidentified event: XXX", "side-up", A::PositionButton, K::Side},
}};

}  // namespace

std::span<const EventName> EventNames() { return kNames; }

const EventName* FindEventName(std::uint32_t message) {
  for (const EventName& row : kNames) {
    if (row.message == message) return &row;
  }
  return nullptr;
}

const EventName* FindEventByText(std::string_view text) {
  for (const EventName& row : kNames) {
    if (text == row.text) return &row;
  }
  return nullptr;
}

}  // namespace vesk
