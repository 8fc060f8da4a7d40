// Translation between X key codes and keysyms and the set-1 scan codes and
// virtual-key codes that journal records carry. Pure tables: no display.
#pragma once

#include <cstdint>
#include <optional>

namespace vesk::x11 {

struct ScanCode {
  std::uint32_t code = 0;  // set-1 make code without the E0 prefix
  bool extended = false;   // the E0 prefix (bit 15 of a record's paramH)
};

// An evdev X key code to its scan code, or nothing for keys with none.
std::optional<ScanCode> ScanFromKeycode(unsigned keycode);

// The reverse: the evdev X key code of a scan code, or 0.
unsigned KeycodeFromScan(ScanCode scan);

// The virtual-key code of an unshifted keysym, or 0 when it has none.
// Keypad keysyms map as they are: KP_1 to VK_NUMPAD1, KP_End to VK_END; the
// caller picks the keysym that Num Lock selects.
std::uint32_t VkFromKeysym(unsigned long keysym);

// The virtual-key code a US keyboard gives a scan code, or 0; used when the
// layout's keysym has no virtual-key code (non-Latin layouts).
std::uint32_t VkFromScanUs(ScanCode scan);

// The keysym that stands for a virtual-key code (for records that carry no
// scan code), or 0.
unsigned long KeysymFromVk(std::uint32_t vk);

bool IsKeypadKeysym(unsigned long keysym);

}  // namespace vesk::x11
