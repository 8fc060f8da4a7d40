// The names of the journal's messages, one row per message with a column
// for each use: the playback log, the recorded script lines and the text
// form of a journal. One table, so the uses cannot drift apart.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/types.h"

namespace vesk {

inline constexpr std::uint32_t WM_XBUTTONDOWN = 0x020B;
inline constexpr std::uint32_t WM_XBUTTONUP = 0x020C;

// What the rest of a text line says after the message's name.
enum class EventArgs : std::uint8_t {
  Position,        // x y
  PositionAmount,  // x y, and a signed amount kept in hwnd (the wheel)
  PositionButton,  // x y, and which side button, kept in hwnd
  Key,             // key name, scan code, extended flag
};

enum class EventKind : std::uint8_t { Move, Click, Key, Wheel, Side };

struct EventName {
  std::uint32_t message;
  // The playback log's label (" Mouse Move: "); null: the log calls the
  // message unidentified.
  const char* logLabel;
  // The recorded script line: the whole line for a button, the function
  // for a move, the suffix inside the braces for a key; null: no line.
  const char* script;
  // The name in the text form of a journal.
  const char* text;
  EventArgs args;
  EventKind kind;
};

std::span<const EventName> EventNames();
// The row of a message, or null when the table has none.
const EventName* FindEventName(std::uint32_t message);
// The row whose text name is given, or null.
const EventName* FindEventByText(std::string_view text);

}  // namespace vesk
