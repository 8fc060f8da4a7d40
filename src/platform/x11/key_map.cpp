// X key codes and keysyms to and from set-1 scan codes and virtual-key codes.
#include "platform/x11/key_map.h"

#define XK_MISCELLANY
#define XK_LATIN1
#define XK_XKB_KEYS
#include <X11/keysymdef.h>

#include <array>
#include <utility>

namespace vesk::x11 {
namespace {

// evdev key code = Linux input code + 8; Linux codes 1..88 are the set-1
// make codes of the same keys.
constexpr unsigned kEvdevOffset = 8;
constexpr unsigned kLastPlainScan = 0x58;  // F12

struct ExtendedKey {
  unsigned keycode;
  std::uint32_t scan;
};

// Keys whose make code has the E0 prefix (and Num Lock, which Windows
// reports as extended to tell it from Pause).
constexpr std::array kExtended{
    ExtendedKey{104, 0x1C},  // KP_Enter
    ExtendedKey{105, 0x1D},  // Control_R
    ExtendedKey{106, 0x35},  // KP_Divide
    ExtendedKey{107, 0x37},  // Print
    ExtendedKey{108, 0x38},  // Alt_R
    ExtendedKey{110, 0x47},  // Home
    ExtendedKey{111, 0x48},  // Up
    ExtendedKey{112, 0x49},  // Prior
    ExtendedKey{113, 0x4B},  // Left
    ExtendedKey{114, 0x4D},  // Right
    ExtendedKey{115, 0x4F},  // End
    ExtendedKey{116, 0x50},  // Down
    ExtendedKey{117, 0x51},  // Next
    ExtendedKey{118, 0x52},  // Insert
    ExtendedKey{119, 0x53},  // Delete
    ExtendedKey{133, 0x5B},  // Super_L
    ExtendedKey{134, 0x5C},  // Super_R
    ExtendedKey{135, 0x5D},  // Menu
    ExtendedKey{77, 0x45},   // Num_Lock
};
constexpr unsigned kPauseKeycode = 127;
constexpr std::uint32_t kPauseScan = 0x45;
constexpr std::uint32_t kBreakScan = 0x46;  // Ctrl+Break: E0 46

// US layout: scan code to virtual-key code for the keys whose code does
// not follow from a keysym.
constexpr std::array<std::uint8_t, kLastPlainScan + 1> kUsVk{
    0,    0x1B, '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  '0',  0xBD, 0xBB, 0x08,
    0x09, 'Q',  'W',  'E',  'R',  'T',  'Y',  'U',  'I',  'O',  'P',  0xDB, 0xDD, 0x0D, 0x11,
    'A',  'S',  'D',  'F',  'G',  'H',  'J',  'K',  'L',  0xBA, 0xDE, 0xC0, 0x10, 0xDC, 'Z',
    'X',  'C',  'V',  'B',  'N',  'M',  0xBC, 0xBE, 0xBF, 0x10, 0x6A, 0x12, 0x20, 0x14, 0x70,
    0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x13, 0x91, 0x24, 0x26, 0x21, 0x6D,
    0x25, 0x0C, 0x27, 0x6B, 0x23, 0x28, 0x22, 0x2D, 0x2E, 0,    0,    0xE2, 0x7A, 0x7B,
};

struct KeysymVk {
  unsigned long keysym;
  std::uint32_t vk;
};

constexpr std::array kKeysymVk{
    KeysymVk{XK_BackSpace, 0x08},    KeysymVk{XK_Tab, 0x09},
    KeysymVk{XK_ISO_Left_Tab, 0x09}, KeysymVk{XK_Clear, 0x0C},
    KeysymVk{XK_Return, 0x0D},       KeysymVk{XK_Shift_L, 0x10},
    KeysymVk{XK_Shift_R, 0x10},      KeysymVk{XK_Control_L, 0x11},
    KeysymVk{XK_Control_R, 0x11},    KeysymVk{XK_Alt_L, 0x12},
    KeysymVk{XK_Alt_R, 0x12},        KeysymVk{XK_Meta_L, 0x12},
    KeysymVk{XK_Meta_R, 0x12},       KeysymVk{XK_ISO_Level3_Shift, 0x12},
    KeysymVk{XK_Pause, 0x13},        KeysymVk{XK_Break, 0x03},
    KeysymVk{XK_Caps_Lock, 0x14},    KeysymVk{XK_Escape, 0x1B},
    KeysymVk{XK_space, 0x20},        KeysymVk{XK_Prior, 0x21},
    KeysymVk{XK_Next, 0x22},         KeysymVk{XK_End, 0x23},
    KeysymVk{XK_Home, 0x24},         KeysymVk{XK_Left, 0x25},
    KeysymVk{XK_Up, 0x26},           KeysymVk{XK_Right, 0x27},
    KeysymVk{XK_Down, 0x28},         KeysymVk{XK_Select, 0x29},
    KeysymVk{XK_Print, 0x2C},        KeysymVk{XK_Execute, 0x2B},
    KeysymVk{XK_Insert, 0x2D},       KeysymVk{XK_Delete, 0x2E},
    KeysymVk{XK_Help, 0x2F},         KeysymVk{XK_Super_L, 0x5B},
    KeysymVk{XK_Super_R, 0x5C},      KeysymVk{XK_Menu, 0x5D},
    KeysymVk{XK_KP_0, 0x60},         KeysymVk{XK_KP_1, 0x61},
    KeysymVk{XK_KP_2, 0x62},         KeysymVk{XK_KP_3, 0x63},
    KeysymVk{XK_KP_4, 0x64},         KeysymVk{XK_KP_5, 0x65},
    KeysymVk{XK_KP_6, 0x66},         KeysymVk{XK_KP_7, 0x67},
    KeysymVk{XK_KP_8, 0x68},         KeysymVk{XK_KP_9, 0x69},
    KeysymVk{XK_KP_Multiply, 0x6A},  KeysymVk{XK_KP_Add, 0x6B},
    KeysymVk{XK_KP_Separator, 0x6C}, KeysymVk{XK_KP_Subtract, 0x6D},
    KeysymVk{XK_KP_Decimal, 0x6E},   KeysymVk{XK_KP_Divide, 0x6F},
    KeysymVk{XK_KP_Enter, 0x0D},     KeysymVk{XK_KP_Home, 0x24},
    KeysymVk{XK_KP_Up, 0x26},        KeysymVk{XK_KP_Prior, 0x21},
    KeysymVk{XK_KP_Left, 0x25},      KeysymVk{XK_KP_Begin, 0x0C},
    KeysymVk{XK_KP_Right, 0x27},     KeysymVk{XK_KP_End, 0x23},
    KeysymVk{XK_KP_Down, 0x28},      KeysymVk{XK_KP_Next, 0x22},
    KeysymVk{XK_KP_Insert, 0x2D},    KeysymVk{XK_KP_Delete, 0x2E},
    KeysymVk{XK_Num_Lock, 0x90},     KeysymVk{XK_Scroll_Lock, 0x91},
    KeysymVk{XK_semicolon, 0xBA},    KeysymVk{XK_equal, 0xBB},
    KeysymVk{XK_comma, 0xBC},        KeysymVk{XK_minus, 0xBD},
    KeysymVk{XK_period, 0xBE},       KeysymVk{XK_slash, 0xBF},
    KeysymVk{XK_grave, 0xC0},        KeysymVk{XK_bracketleft, 0xDB},
    KeysymVk{XK_backslash, 0xDC},    KeysymVk{XK_bracketright, 0xDD},
    KeysymVk{XK_apostrophe, 0xDE},   KeysymVk{XK_less, 0xE2},
};

}  // namespace

std::optional<ScanCode> ScanFromKeycode(unsigned keycode) {
  for (const auto& e : kExtended) {
    if (e.keycode == keycode) return ScanCode{e.scan, true};
  }
  if (keycode == kPauseKeycode) return ScanCode{kPauseScan, false};
  if (keycode > kEvdevOffset && keycode - kEvdevOffset <= kLastPlainScan) {
    const std::uint32_t scan = keycode - kEvdevOffset;
    if (scan == 0x54 || scan == 0x55) return std::nullopt;  // no keys there
    return ScanCode{scan, false};
  }
  return std::nullopt;
}

unsigned KeycodeFromScan(ScanCode scan) {
  if (scan.extended) {
    if (scan.code == kBreakScan) return kPauseKeycode;
    for (const auto& e : kExtended) {
      if (e.scan == scan.code) return e.keycode;
    }
    // Some extended codes share the key of the plain code (E0 2A fake shift).
    return 0;
  }
  if (scan.code == kPauseScan) return kPauseKeycode;
  if (scan.code >= 1 && scan.code <= kLastPlainScan && scan.code != 0x54 && scan.code != 0x55) {
    return scan.code + kEvdevOffset;
  }
  return 0;
}

std::uint32_t VkFromKeysym(unsigned long keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return static_cast<std::uint32_t>(keysym - XK_a + 'A');
  if (keysym >= XK_A && keysym <= XK_Z) return static_cast<std::uint32_t>(keysym);
  if (keysym >= XK_0 && keysym <= XK_9) return static_cast<std::uint32_t>(keysym);
  if (keysym >= XK_F1 && keysym <= XK_F24) return static_cast<std::uint32_t>(0x70 + keysym - XK_F1);
  for (const auto& e : kKeysymVk) {
    if (e.keysym == keysym) return e.vk;
  }
  return 0;
}

std::uint32_t VkFromScanUs(ScanCode scan) {
  if (scan.extended) {
    switch (scan.code) {
      case 0x1C:
        return 0x0D;
      case 0x1D:
        return 0x11;
      case 0x35:
        return 0x6F;
      case 0x37:
        return 0x2C;
      case 0x38:
        return 0x12;
      case 0x45:
        return 0x90;
      case 0x46:
        return 0x03;
      case 0x47:
        return 0x24;
      case 0x48:
        return 0x26;
      case 0x49:
        return 0x21;
      case 0x4B:
        return 0x25;
      case 0x4D:
        return 0x27;
      case 0x4F:
        return 0x23;
      case 0x50:
        return 0x28;
      case 0x51:
        return 0x22;
      case 0x52:
        return 0x2D;
      case 0x53:
        return 0x2E;
      case 0x5B:
        return 0x5B;
      case 0x5C:
        return 0x5C;
      case 0x5D:
        return 0x5D;
      default:
        return 0;
    }
  }
  if (scan.code == kPauseScan) return 0x13;
  return scan.code < kUsVk.size() ? kUsVk[scan.code] : 0;
}

unsigned long KeysymFromVk(std::uint32_t vk) {
  if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
  if (vk >= '0' && vk <= '9') return vk;
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
  for (const auto& e : kKeysymVk) {
    if (e.vk == vk) return e.keysym;  // the first, unshifted, entry wins
  }
  return 0;
}

bool IsKeypadKeysym(unsigned long keysym) { return keysym >= XK_KP_Space && keysym <= XK_KP_9; }

}  // namespace vesk::x11
