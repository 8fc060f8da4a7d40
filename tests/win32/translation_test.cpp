// The backend's pure pieces: event translation both ways, the file dialog
// settings and the file writer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/file_writer.h"
#include "platform/win32/event_translation.h"
#include "platform/win32/file_dialog.h"
#include "storage/journal.h"
#include "wine_support.h"

#include <sddl.h>

namespace vesk::testing {
namespace {

using win32::FromLowLevelKey;
using win32::FromLowLevelMouse;
using win32::FromSystemEvent;
using win32::ToInjection;
using win32::ToSystemEvent;

::KBDLLHOOKSTRUCT Key(DWORD vk, DWORD scan, DWORD flags = 0, DWORD time = 0) {
  ::KBDLLHOOKSTRUCT k{};
  k.vkCode = vk;
  k.scanCode = scan;
  k.flags = flags;
  k.time = time;
  return k;
}

::MSLLHOOKSTRUCT Mouse(LONG x, LONG y, DWORD data = 0, DWORD flags = 0) {
  ::MSLLHOOKSTRUCT m{};
  m.pt = {x, y};
  m.mouseData = data;
  m.flags = flags;
  m.time = 777;
  return m;
}

TEST(Translation, KeysBecomeScanCodeAndVirtualKeyWithTheirTimeStamp) {
  const EVENTMSG e = FromLowLevelKey(WM_KEYDOWN, Key('A', 0x1E, 0, 1234));
  EXPECT_EQ(e.message, static_cast<std::uint32_t>(WM_KEYDOWN));
  EXPECT_EQ(e.paramL, 0x1E41u);
  EXPECT_EQ(e.paramH, 1u);
  EXPECT_EQ(e.time, 1234u);
  EXPECT_EQ(e.hwnd, 0u);
}

TEST(Translation, SidedModifiersAreStoredAsGenericKeysAndExtendedKeysSetBit15) {
  EXPECT_EQ(FromLowLevelKey(WM_KEYDOWN, Key(VK_LSHIFT, 0x2A)).paramL, 0x2A10u);
  EXPECT_EQ(FromLowLevelKey(WM_KEYDOWN, Key(VK_RSHIFT, 0x36)).paramL, 0x3610u);
  const EVENTMSG ctrl = FromLowLevelKey(WM_KEYUP, Key(VK_RCONTROL, 0x1D, LLKHF_EXTENDED | 0x80));
  EXPECT_EQ(ctrl.message, static_cast<std::uint32_t>(WM_KEYUP));
  EXPECT_EQ(ctrl.paramL, 0x1D11u);
  EXPECT_EQ(ctrl.paramH, 0x8001u);
  const EVENTMSG alt = FromLowLevelKey(WM_SYSKEYDOWN, Key(VK_LMENU, 0x38));
  EXPECT_EQ(alt.message, static_cast<std::uint32_t>(WM_SYSKEYDOWN));
  EXPECT_EQ(alt.paramL, 0x3812u);
  EXPECT_EQ(FromLowLevelKey(WM_KEYDOWN, Key(VK_RIGHT, 0x4D, LLKHF_EXTENDED)).paramH, 0x8001u);
}

TEST(Translation, MouseEventsCarryTheScreenPositionAndTheWheelItsSignedDelta) {
  const EVENTMSG move = FromLowLevelMouse(WM_MOUSEMOVE, Mouse(-5, 700));
  EXPECT_EQ(move.paramL, static_cast<std::uint32_t>(-5));
  EXPECT_EQ(move.paramH, 700u);
  EXPECT_EQ(move.time, 777u);
  EXPECT_EQ(move.hwnd, 0u);
  const EVENTMSG back = FromLowLevelMouse(WM_MOUSEWHEEL, Mouse(10, 20, 0xFF880000u));
  EXPECT_EQ(static_cast<std::int32_t>(back.hwnd), -120);
  const EVENTMSG forward = FromLowLevelMouse(WM_MOUSEWHEEL, Mouse(10, 20, 240u << 16));
  EXPECT_EQ(static_cast<std::int32_t>(forward.hwnd), 240);
}

TEST(Translation, SystemJournalRecordsKeepEveryFieldAndWidenHandlesBySignExtension) {
  const EVENTMSG ours{WM_LBUTTONDOWN, 10, 20, 30, 0x80001234u};
  const ::EVENTMSG sys = ToSystemEvent(ours);
  EXPECT_EQ(sys.message, static_cast<UINT>(WM_LBUTTONDOWN));
  EXPECT_EQ(sys.paramL, 10u);
  EXPECT_EQ(sys.paramH, 20u);
  EXPECT_EQ(sys.time, 30u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sys.hwnd), 0xFFFFFFFF80001234ull);
  EXPECT_EQ(FromSystemEvent(sys), ours);
  const EVENTMSG small{WM_KEYUP, 0x1E41, 1, 5, 0x00010066u};
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ToSystemEvent(small).hwnd), 0x10066ull);
  EXPECT_EQ(FromSystemEvent(ToSystemEvent(small)), small);
}

TEST(Translation, KeysReplayByVirtualKeyWithScanCodeExtendedAndUpFlags) {
  const win32::Injection down = ToInjection({WM_KEYDOWN, 0x4D27, 0x8001, 0, 0});
  ASSERT_TRUE(down.input.has_value());
  EXPECT_FALSE(down.cursor.has_value());
  EXPECT_EQ(down.input->type, static_cast<DWORD>(INPUT_KEYBOARD));
  EXPECT_EQ(down.input->ki.wVk, 0x27);
  EXPECT_EQ(down.input->ki.wScan, 0x4D);
  EXPECT_EQ(down.input->ki.dwFlags, static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY));
  const win32::Injection up = ToInjection({WM_SYSKEYUP, 0x3812, 1, 0, 0});
  ASSERT_TRUE(up.input.has_value());
  EXPECT_EQ(up.input->ki.wVk, VK_MENU);
  EXPECT_EQ(up.input->ki.dwFlags, static_cast<DWORD>(KEYEVENTF_KEYUP));
}

TEST(Translation, MouseEventsReplayAtTheirPositionAndUnknownMessagesNotAtAll) {
  const win32::Injection move = ToInjection({WM_MOUSEMOVE, 300, 200, 0, 0});
  ASSERT_TRUE(move.cursor.has_value());
  EXPECT_EQ(move.cursor->x, 300);
  EXPECT_EQ(move.cursor->y, 200);
  EXPECT_FALSE(move.input.has_value());  // the pointer is placed, nothing clicked

  const win32::Injection right =
      ToInjection({WM_RBUTTONUP, static_cast<std::uint32_t>(-20), 5, 0, 0});
  ASSERT_TRUE(right.cursor && right.input);
  EXPECT_EQ(right.cursor->x, -20);
  EXPECT_EQ(right.input->mi.dwFlags, static_cast<DWORD>(MOUSEEVENTF_RIGHTUP));

  const win32::Injection wheel =
      ToInjection({WM_MOUSEWHEEL, 1, 2, 0, static_cast<std::uint32_t>(-120)});
  ASSERT_TRUE(wheel.input.has_value());
  EXPECT_EQ(wheel.input->mi.dwFlags, static_cast<DWORD>(MOUSEEVENTF_WHEEL));
  EXPECT_EQ(static_cast<std::int32_t>(wheel.input->mi.mouseData), -120);

  const win32::Injection other = ToInjection({0x0401, 1, 2, 3, 4});
  EXPECT_FALSE(other.cursor.has_value());
  EXPECT_FALSE(other.input.has_value());
  // A key record naming neither key nor scan code presses nothing.
  EXPECT_FALSE(ToInjection({WM_KEYDOWN, 0x00FF0000u, 1, 0, 0}).input.has_value());
}

TEST(Translation, JournalBytesRecordedOnLinuxReplayAsTheSameKeyAndClick) {
  // tag, message, paramL, paramH, delay, hwnd: little-endian, 24 bytes each.
  const unsigned char bytes[] = {
      1, 0, 0, 0, 0x00, 0x01, 0, 0, 0x48, 0x23, 0, 0, 0x01, 0x80, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0,
      1, 0, 0, 0, 0x01, 0x02, 0, 0, 0x10, 0x02, 0, 0, 0x2C, 0x01, 0, 0, 7,  0, 0, 0, 0, 0, 0, 0,
  };
  const JournalEntry key = DecodeEntry(bytes);
  const win32::Injection k = ToInjection(key.event);
  ASSERT_TRUE(k.input.has_value());
  EXPECT_EQ(k.input->ki.wVk, 'H');
  EXPECT_EQ(k.input->ki.wScan, 0x23);
  EXPECT_EQ(k.input->ki.dwFlags, static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY));
  const JournalEntry click = DecodeEntry(bytes + 24);
  const win32::Injection c = ToInjection(click.event);
  ASSERT_TRUE(c.cursor && c.input);
  EXPECT_EQ(c.cursor->x, 0x210);
  EXPECT_EQ(c.cursor->y, 0x12C);
  EXPECT_EQ(c.input->mi.dwFlags, static_cast<DWORD>(MOUSEEVENTF_LEFTDOWN));
}

// ---------------------------------------------------------------- file dialog

FileDialogRequest JournalRequest(bool save) {
  return {save,
          save ? "Save journal as:" : "Open journal:",
          save ? "Journal.alg" : "",
          "alg",
          "Vesk Journal Files (.alg)",
          "*.alg",
          0x1006};
}

TEST(FileDialog, SettingsReachTheApiAsGiven) {
  win32::FileDialogSetup setup(JournalRequest(false), nullptr);
  const OPENFILENAMEA& o = setup.Settings();
  EXPECT_EQ(o.lStructSize, sizeof(OPENFILENAMEA));
  EXPECT_STREQ(o.lpstrTitle, "Open journal:");
  EXPECT_STREQ(o.lpstrDefExt, "alg");
  EXPECT_EQ(o.Flags, 0x1006u);
  EXPECT_EQ(o.nFilterIndex, 1u);
  const char expected[] = "Vesk Journal Files (.alg)\0*.alg\0";  // plus the array's NUL
  EXPECT_EQ(std::memcmp(o.lpstrFilter, expected, sizeof(expected)), 0);
  EXPECT_EQ(o.lpstrFile[0], '\0');
  EXPECT_EQ(o.nMaxFile, win32::FileDialogSetup::kFileBuffer);
}

TEST(FileDialog, SaveDialogStartsWithTheInitialNameAndReturnsTheBufferContents) {
  win32::FileDialogSetup setup(JournalRequest(true), nullptr);
  EXPECT_STREQ(setup.Settings().lpstrFile, "Journal.alg");
  std::strcpy(setup.Settings().lpstrFile, "C:\\work\\x.alg");
  EXPECT_EQ(setup.ChosenPath(), "C:\\work\\x.alg");
}

TEST(FileDialog, OverlongInitialNameIsCutToTheBufferAndEmptyFieldsPassAsNull) {
  FileDialogRequest r = JournalRequest(true);
  r.initialName = std::string(100000, 'x');
  r.title.clear();
  r.defaultExtension.clear();
  win32::FileDialogSetup setup(r, nullptr);
  EXPECT_EQ(std::strlen(setup.Settings().lpstrFile), win32::FileDialogSetup::kFileBuffer - 1);
  EXPECT_EQ(setup.Settings().lpstrTitle, nullptr);
  EXPECT_EQ(setup.Settings().lpstrDefExt, nullptr);
}

// ---------------------------------------------------------------- file writer

TEST(FileWriter, ReplacesAnExistingFileWholeAndLeavesNoTemporaryFile) {
  TempDir dir;
  WriteFile(dir.File("j.alg"), "old contents that are longer");
  EXPECT_EQ(WriteFileReplacing(dir.File("j.alg"), std::string("new\0bytes", 9), true),
            WriteOutcome::Written);
  EXPECT_EQ(ReadFile(dir.File("j.alg")), std::string("new\0bytes", 9));
  EXPECT_FALSE(std::filesystem::exists(dir.File("j.alg.vesk-tmp")));
  EXPECT_EQ(WriteFileReplacing(dir.File("fresh.au3"), "", false), WriteOutcome::Written);
  EXPECT_TRUE(std::filesystem::exists(dir.File("fresh.au3")));
}

TEST(FileWriter, OwnerOnlyFilesLetNobodyButTheUserIn) {
  TempDir dir;
  ASSERT_EQ(WriteFileReplacing(dir.File("typed.alg"), "secret", true), WriteOutcome::Written);
  DWORD size = 0;
  ::GetFileSecurityA(dir.File("typed.alg").c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<BYTE> descriptor(size);
  ASSERT_TRUE(::GetFileSecurityA(dir.File("typed.alg").c_str(), DACL_SECURITY_INFORMATION,
                                 descriptor.data(), size, &size));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  ACL* acl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted));
  ASSERT_TRUE(present && acl != nullptr);
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE user[256];
  DWORD userSize = sizeof(user);
  ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user, userSize, &userSize));
  ::CloseHandle(token);
  PSID self = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  // The user has full access; nobody else but the system itself (which Wine
  // lists for every file) is let in.
  bool userHasAll = false;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(acl, i, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    char* text = nullptr;
    ::ConvertSidToStringSidA(sid, &text);
    const std::string name = text != nullptr ? text : "?";
    ::LocalFree(text);
    if (::EqualSid(sid, self)) {
      userHasAll = (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
    } else {
      EXPECT_EQ(name, "S-1-5-18") << "the file lets someone else in";
    }
  }
  EXPECT_TRUE(userHasAll);
}

TEST(FileWriter, ImpossibleTargetsReportOpenFailedAndChangeNothing) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder");
  EXPECT_EQ(WriteFileReplacing(dir.File("folder"), "x", true), WriteOutcome::OpenFailed);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "folder"));
  EXPECT_EQ(WriteFileReplacing("", "x", true), WriteOutcome::OpenFailed);
  EXPECT_EQ(WriteFileReplacing(dir.File("missing\\sub\\j.alg"), "x", true),
            WriteOutcome::OpenFailed);
}

}  // namespace
}  // namespace vesk::testing
