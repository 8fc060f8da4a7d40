// The X11 key tables from any key code, scan code, keysym or virtual-key
// code: never a crash, and the translations agree with each other.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/x11/key_map.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vesk::x11;
  std::uint8_t raw[16] = {};
  std::memcpy(raw, data, size < sizeof raw ? size : sizeof raw);
  unsigned keycode = 0;
  std::uint32_t scan = 0;
  unsigned long keysym = 0;
  std::uint32_t vk = 0;
  std::memcpy(&keycode, raw, 4);
  std::memcpy(&scan, raw + 4, 4);
  std::memcpy(&keysym, raw + 8, 4);
  std::memcpy(&vk, raw + 12, 4);

  // A key code with a scan code is found again from that scan code.
  if (const auto s = ScanFromKeycode(keycode)) {
    if (s->code > 0xFF || KeycodeFromScan(*s) != keycode) __builtin_trap();
  }
  const ScanCode sc{scan & 0x1FF, (scan & 0x10000) != 0};
  if (const unsigned k = KeycodeFromScan(sc); k != 0 && !ScanFromKeycode(k)) __builtin_trap();
  if (VkFromScanUs(sc) > 0xFF) __builtin_trap();

  const std::uint32_t fromKeysym = VkFromKeysym(keysym);
  if (fromKeysym > 0xFF) __builtin_trap();
  IsKeypadKeysym(keysym);
  // The keysym standing for a virtual-key code gives that code back.
  if (const unsigned long ks = KeysymFromVk(vk); ks != 0 && VkFromKeysym(ks) != vk)
    __builtin_trap();
  return 0;
}
