// Key code translation: X key codes and keysyms to the scan codes and
// virtual-key codes journals carry, and back.
#include "platform/x11/key_map.h"

#include "platform/types.h"

#include <gtest/gtest.h>

#define XK_MISCELLANY
#define XK_LATIN1
#include <X11/keysymdef.h>

namespace vesk::x11 {
namespace {

TEST(KeyMap, ScanCodesFollowTheKeyCodesWithTheExtendedKeysApart) {
  struct Row {
    unsigned keycode;
    std::uint32_t scan;
    bool extended;
  };
  const Row rows[] = {
      {9, 0x01, false},    // Escape
      {38, 0x1E, false},   // A
      {37, 0x1D, false},   // Control_L
      {91, 0x53, false},   // KP_Delete / KP_Decimal
      {94, 0x56, false},   // the <> key of ISO keyboards
      {96, 0x58, false},   // F12
      {105, 0x1D, true},   // Control_R
      {104, 0x1C, true},   // KP_Enter
      {106, 0x35, true},   // KP_Divide
      {108, 0x38, true},   // Alt_R
      {111, 0x48, true},   // Up
      {119, 0x53, true},   // Delete
      {133, 0x5B, true},   // Super_L
      {77, 0x45, true},    // Num_Lock
      {127, 0x45, false},  // Pause
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.keycode);
    const auto scan = ScanFromKeycode(r.keycode);
    ASSERT_TRUE(scan.has_value());
    EXPECT_EQ(scan->code, r.scan);
    EXPECT_EQ(scan->extended, r.extended);
    EXPECT_EQ(KeycodeFromScan(*scan), r.keycode);  // and back
  }
  EXPECT_FALSE(ScanFromKeycode(8).has_value());
  EXPECT_FALSE(ScanFromKeycode(250).has_value());
  EXPECT_EQ(KeycodeFromScan({0x46, true}), 127u);  // Ctrl+Break replays on Pause
  EXPECT_EQ(KeycodeFromScan({0x7F, false}), 0u);
  EXPECT_EQ(KeycodeFromScan({0x00, false}), 0u);
}

TEST(KeyMap, VirtualKeysComeFromTheUnshiftedKeysym) {
  EXPECT_EQ(VkFromKeysym(XK_a), 'A');
  EXPECT_EQ(VkFromKeysym(XK_7), '7');
  EXPECT_EQ(VkFromKeysym(XK_F11), 0x7Au);
  EXPECT_EQ(VkFromKeysym(XK_Return), VK_RETURN);
  EXPECT_EQ(VkFromKeysym(XK_Shift_R), VK_SHIFT);
  EXPECT_EQ(VkFromKeysym(XK_Control_R), VK_CONTROL);
  EXPECT_EQ(VkFromKeysym(XK_Pause), VK_PAUSE);
  EXPECT_EQ(VkFromKeysym(XK_minus), 0xBDu);
  EXPECT_EQ(VkFromKeysym(XK_less), 0xE2u);
  EXPECT_EQ(VkFromKeysym(0x6C1), 0u);           // a Cyrillic letter: no code of its own
  EXPECT_EQ(VkFromScanUs({0x1E, false}), 'A');  // ...so the key's US code is used
  EXPECT_EQ(VkFromScanUs({0x48, true}), 0x26u);
}

TEST(KeyMap, KeypadKeysFollowNumLock) {
  // With Num Lock the caller passes the numeric keysym, without it the other.
  EXPECT_EQ(VkFromKeysym(XK_KP_1), 0x61u);
  EXPECT_EQ(VkFromKeysym(XK_KP_End), 0x23u);
  EXPECT_EQ(VkFromKeysym(XK_KP_Begin), 0x0Cu);
  EXPECT_TRUE(IsKeypadKeysym(XK_KP_End));
  EXPECT_TRUE(IsKeypadKeysym(XK_KP_9));
  EXPECT_FALSE(IsKeypadKeysym(XK_End));
}

TEST(KeyMap, RecordsWithoutScanCodesReplayByTheirVirtualKey) {
  EXPECT_EQ(KeysymFromVk('Q'), static_cast<unsigned long>(XK_q));
  EXPECT_EQ(KeysymFromVk(0x70), static_cast<unsigned long>(XK_F1));
  EXPECT_EQ(KeysymFromVk(VK_SHIFT), static_cast<unsigned long>(XK_Shift_L));
  EXPECT_EQ(KeysymFromVk(0xFF), 0u);
}

}  // namespace
}  // namespace vesk::x11
