// Key codes (scan code x 256 + key code) to the key names of AutoIt's
// Send command, following Shift and Caps Lock for single letters.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vesk {

struct KeyNameRow {
  const char* name;
  std::uint32_t code;
};

// 153 rows and the closing row (code 0).
std::span<const KeyNameRow> KeyNameTable();

// The process-wide keyboard state the lookup follows.
struct KeyboardState {
  bool ShiftDown = false;
  bool CapsLockOn = false;
};
KeyboardState& TheKeyboardState();

inline constexpr const char* kKeyNameMutexName = "getKeyCodeStringMutex";
inline constexpr std::uint32_t kKeyNameMutexWait = 5000;

// The key's name, or nothing. Updates the keyboard state; runs under the
// system-wide named lock, and without it if the lock cannot be had.
std::optional<std::string> getKeyCodeString(std::uint32_t keyCode, bool keyDown);

// Drops the lock handle (the program's end).
void CloseKeyNameLock();

}  // namespace vesk
