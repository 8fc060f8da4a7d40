// The backend's pure pieces: event translation both ways, the file dialog
// settings and the file writer.
#include <gtest/gtest.h>

#include <cwchar>
#include <set>

#include <cstring>
#include <filesystem>

#include "platform/file_writer.h"
#include "platform/win32/event_translation.h"
#include "platform/win32/file_dialog.h"
#include "platform/win32/file_security.h"
#include "storage/journal.h"
#include "wine_support.h"

#include <sddl.h>

namespace vesk::testing {
namespace {

using win32::FromLowLevelKey;
using win32::FromLowLevelMouse;
using win32::FromSystemEvent;
using win32::ToInput;
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

TEST(Translation, KeysBecomeScanCodeAndVirtualKeyWithTheCallersTimeStamp) {
  const EVENTMSG e = FromLowLevelKey(WM_KEYDOWN, Key('A', 0x1E, 0, 1234), 98765);
  EXPECT_EQ(e.message, static_cast<std::uint32_t>(WM_KEYDOWN));
  EXPECT_EQ(e.paramL, 0x1E41u);
  EXPECT_EQ(e.paramH, 1u);
  EXPECT_EQ(e.time, 98765u);  // not the hook's coarse tick
  EXPECT_EQ(e.hwnd, 0u);
}

TEST(Translation, SidedModifiersAreStoredAsGenericKeysAndExtendedKeysSetBit15) {
  EXPECT_EQ(FromLowLevelKey(WM_KEYDOWN, Key(VK_LSHIFT, 0x2A), 0).paramL, 0x2A10u);
  EXPECT_EQ(FromLowLevelKey(WM_KEYDOWN, Key(VK_RSHIFT, 0x36), 0).paramL, 0x3610u);
  const EVENTMSG ctrl = FromLowLevelKey(WM_KEYUP, Key(VK_RCONTROL, 0x1D, LLKHF_EXTENDED | 0x80), 0);
  EXPECT_EQ(ctrl.message, static_cast<std::uint32_t>(WM_KEYUP));
  EXPECT_EQ(ctrl.paramL, 0x1D11u);
  EXPECT_EQ(ctrl.paramH, 0x8001u);
  const EVENTMSG alt = FromLowLevelKey(WM_SYSKEYDOWN, Key(VK_LMENU, 0x38), 0);
  EXPECT_EQ(alt.message, static_cast<std::uint32_t>(WM_SYSKEYDOWN));
  EXPECT_EQ(alt.paramL, 0x3812u);
  EXPECT_EQ(FromLowLevelKey(WM_KEYDOWN, Key(VK_RIGHT, 0x4D, LLKHF_EXTENDED), 0).paramH, 0x8001u);
}

TEST(Translation, MouseEventsCarryTheSignedScreenPositionAndTheWheelItsSignedDelta) {
  const EVENTMSG move = FromLowLevelMouse(WM_MOUSEMOVE, Mouse(-5, 700), 555);
  EXPECT_EQ(move.paramL, static_cast<std::uint32_t>(-5));
  EXPECT_EQ(move.paramH, 700u);
  EXPECT_EQ(move.time, 555u);
  EXPECT_EQ(move.hwnd, 0u);
  const EVENTMSG back = FromLowLevelMouse(WM_MOUSEWHEEL, Mouse(10, 20, 0xFF880000u), 0);
  EXPECT_EQ(static_cast<std::int32_t>(back.hwnd), -120);
  const EVENTMSG forward = FromLowLevelMouse(WM_MOUSEWHEEL, Mouse(10, 20, 240u << 16), 0);
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

// The wheel means one thing on both paths: the delta the low-level hook
// reports, in the record's hwnd field.
TEST(Translation, WheelRoundTripsThroughBothPathsAndOutOfRangeDeltasAreRefused) {
  const win32::DesktopRect desk{0, 0, 1280, 1024};
  for (const int delta : {120, -120, 360, -32768, 32767, 1}) {
    SCOPED_TRACE(delta);
    // Low-level path: hook -> journal -> SendInput.
    const auto data = static_cast<DWORD>(static_cast<WORD>(static_cast<std::int16_t>(delta))) << 16;
    const EVENTMSG low = FromLowLevelMouse(WM_MOUSEWHEEL, Mouse(300, 200, data), 0);
    const std::optional<INPUT> in = ToInput(low, desk);
    ASSERT_TRUE(in.has_value());
    EXPECT_NE(in->mi.dwFlags & MOUSEEVENTF_WHEEL, 0u);
    EXPECT_EQ(static_cast<std::int32_t>(in->mi.mouseData), delta);
    // Journal path: the system's record names a window in hwnd; the delta
    // noted by the low-level hook beside it is what the journal keeps.
    ::EVENTMSG sys{};
    sys.message = WM_MOUSEWHEEL;
    sys.paramL = 300;
    sys.paramH = 200;
    sys.hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x000301F4));
    const EVENTMSG journal = FromSystemEvent(sys, delta);
    EXPECT_EQ(journal, (EVENTMSG{WM_MOUSEWHEEL, 300, 200, 0, low.hwnd}));
    // ... and playing either journal back on that path posts the same turn.
    const auto wheel = win32::WheelForJournalPlayback(low);
    ASSERT_TRUE(wheel.has_value());
    EXPECT_EQ(wheel->delta, delta);
    EXPECT_EQ(wheel->x, 300);
    EXPECT_EQ(wheel->y, 200);
    const ::EVENTMSG handed = ToSystemEvent(journal);
    EXPECT_EQ(handed.message, static_cast<UINT>(WM_MOUSEMOVE));  // the pointer goes there
    EXPECT_EQ(handed.paramL, 300u);
    EXPECT_EQ(handed.hwnd, nullptr);  // never a delta mistaken for a window
  }
  // Without a note (the low-level hook saw nothing) one notch forward.
  ::EVENTMSG bare{};
  bare.message = WM_MOUSEWHEEL;
  bare.hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10066));
  EXPECT_EQ(FromSystemEvent(bare).hwnd, static_cast<std::uint32_t>(WHEEL_DELTA));
  // A window handle in an old journal is not a delta: refused, not scrolled.
  for (const std::uint32_t bad : {0x10066u, 0x8000u, 0xFFFF7FFFu, 0x80000000u}) {
    const EVENTMSG e{WM_MOUSEWHEEL, 1, 2, 0, bad};
    EXPECT_FALSE(ToInput(e, desk).has_value()) << bad;
    EXPECT_FALSE(win32::WheelForJournalPlayback(e).has_value()) << bad;
  }
}

// A side button the record does not name (only a damaged file has one)
// reaches nothing on either path.
TEST(Translation, ASideButtonTheRecordDoesNotNameIsSkippedOnBothPaths) {
  const win32::DesktopRect desk{0, 0, 1280, 1024};
  for (const std::uint32_t m : {WM_XBUTTONDOWN, WM_XBUTTONUP}) {
    for (const std::uint32_t button : {0u, 1u, 2u, 3u, 0x10001u}) {
      SCOPED_TRACE(button);
      const EVENTMSG e{m, 300, 200, 0, button};
      const bool named = button == XBUTTON1 || button == XBUTTON2;
      EXPECT_EQ(ToInput(e, desk).has_value(), named);
      EXPECT_EQ(win32::WheelForJournalPlayback(e).has_value(), named);  // posted
      const ::EVENTMSG handed = ToSystemEvent(e);
      EXPECT_EQ(handed.message, static_cast<UINT>(WM_MOUSEMOVE));  // never the button itself
      EXPECT_EQ(handed.hwnd, nullptr);
    }
  }
}

TEST(Translation, KeysReplayByVirtualKeyWithScanCodeExtendedAndUpFlags) {
  const win32::DesktopRect desk;
  const std::optional<INPUT> down = ToInput({WM_KEYDOWN, 0x4D27, 0x8001, 0, 0}, desk);
  ASSERT_TRUE(down.has_value());
  EXPECT_EQ(down->type, static_cast<DWORD>(INPUT_KEYBOARD));
  EXPECT_EQ(down->ki.wVk, 0x27);
  EXPECT_EQ(down->ki.wScan, 0x4D);
  EXPECT_EQ(down->ki.dwFlags, static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY));
  EXPECT_EQ(down->ki.dwExtraInfo, win32::kInjectedByVesk);
  const std::optional<INPUT> up = ToInput({WM_SYSKEYUP, 0x3812, 1, 0, 0}, desk);
  ASSERT_TRUE(up.has_value());
  EXPECT_EQ(up->ki.wVk, VK_MENU);
  EXPECT_EQ(up->ki.dwFlags, static_cast<DWORD>(KEYEVENTF_KEYUP));
  // A key record naming neither key nor scan code presses nothing.
  EXPECT_FALSE(ToInput({WM_KEYDOWN, 0x00FF0000u, 1, 0, 0}, desk).has_value());
  EXPECT_FALSE(ToInput({0x0401, 1, 2, 3, 4}, desk).has_value());
}

// Moves, clicks and the wheel go through the one SendInput stream, each
// with its absolute place on the virtual desktop.
TEST(Translation, MouseEventsCarryTheirAbsolutePlaceOverTheVirtualDesktop) {
  // A 1920-wide monitor left of a 2560x1440 primary.
  const win32::DesktopRect desk{-1920, 0, 4480, 1440};
  const std::optional<INPUT> move =
      ToInput({WM_MOUSEMOVE, static_cast<std::uint32_t>(-100), 5, 0, 0}, desk);
  ASSERT_TRUE(move.has_value());
  const DWORD absolute = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
  EXPECT_EQ(move->type, static_cast<DWORD>(INPUT_MOUSE));
  EXPECT_EQ(move->mi.dwFlags, absolute);
  EXPECT_EQ(win32::PixelFromAbsolute(move->mi.dx, desk.left, desk.width), -100);
  EXPECT_EQ(win32::PixelFromAbsolute(move->mi.dy, desk.top, desk.height), 5);
  EXPECT_EQ(move->mi.dwExtraInfo, win32::kInjectedByVesk);

  const std::optional<INPUT> right = ToInput({WM_RBUTTONUP, 2559 + 0u, 1439, 0, 0}, desk);
  ASSERT_TRUE(right.has_value());
  EXPECT_EQ(right->mi.dwFlags, absolute | MOUSEEVENTF_RIGHTUP);
  EXPECT_EQ(win32::PixelFromAbsolute(right->mi.dx, desk.left, desk.width), 2559);
  EXPECT_EQ(win32::PixelFromAbsolute(right->mi.dy, desk.top, desk.height), 1439);
  for (const auto& [message, flag] : {std::pair{WM_LBUTTONDOWN, MOUSEEVENTF_LEFTDOWN},
                                      {WM_LBUTTONUP, MOUSEEVENTF_LEFTUP},
                                      {WM_MBUTTONDOWN, MOUSEEVENTF_MIDDLEDOWN},
                                      {WM_MBUTTONUP, MOUSEEVENTF_MIDDLEUP},
                                      {WM_RBUTTONDOWN, MOUSEEVENTF_RIGHTDOWN}}) {
    const std::optional<INPUT> in =
        ToInput({static_cast<std::uint32_t>(message), 0, 0, 0, 0}, desk);
    ASSERT_TRUE(in.has_value());
    EXPECT_EQ(in->mi.dwFlags, absolute | static_cast<DWORD>(flag));
  }
  // Off the desktop: the nearest edge, as the pointer itself would go.
  const std::optional<INPUT> offDesk =
      ToInput({WM_MOUSEMOVE, static_cast<std::uint32_t>(-5000), 99999, 0, 0}, desk);
  ASSERT_TRUE(offDesk.has_value());
  EXPECT_EQ(win32::PixelFromAbsolute(offDesk->mi.dx, desk.left, desk.width), -1920);
  EXPECT_EQ(win32::PixelFromAbsolute(offDesk->mi.dy, desk.top, desk.height), 1439);
}

// Windows versions map a normalised coordinate back either by rounding
// (documented: 0 the first pixel, 65535 the last) or by truncating
// n * extent / 65536; every pixel must come back under both.
int TruncatingPixel(LONG n, int origin, int extent) {
  return origin + static_cast<int>((static_cast<std::int64_t>(n) * extent) >> 16);
}

TEST(Translation, EveryPixelOfADesktopSurvivesNormalisationBothWaysWindowsMapsIt) {
  // Odd and even widths, tiny desktops, mixed monitors, the widest there is.
  for (const auto& [origin, extent] : {std::pair{0, 1280},
                                       {0, 1024},
                                       {-1920, 4480},
                                       {-1080, 3000},
                                       {0, 7680},
                                       {0, 1},
                                       {5, 2},
                                       {0, 3},
                                       {-16384, 32768},
                                       {-12345, 30001},
                                       {0, 65536}}) {
    SCOPED_TRACE(::testing::Message() << origin << "+" << extent);
    LONG previous = -1;
    for (int pixel = origin; pixel < origin + extent; ++pixel) {
      const LONG n = win32::NormalizeAbsolute(pixel, origin, extent);
      ASSERT_GE(n, 0);
      ASSERT_LE(n, 65535);
      ASSERT_EQ(win32::PixelFromAbsolute(n, origin, extent), pixel) << "pixel " << pixel;
      ASSERT_EQ(TruncatingPixel(n, origin, extent), pixel) << "pixel " << pixel;
      if (extent > 1) {
        ASSERT_GT(n, previous) << "pixel " << pixel;
      }
      previous = n;
    }
    // One step outside either edge is the edge.
    EXPECT_EQ(win32::NormalizeAbsolute(origin - 1, origin, extent),
              win32::NormalizeAbsolute(origin, origin, extent));
    EXPECT_EQ(win32::NormalizeAbsolute(origin + extent, origin, extent),
              win32::NormalizeAbsolute(origin + extent - 1, origin, extent));
  }
}

TEST(Translation, JournalBytesRecordedOnLinuxReplayAsTheSameKeyAndClick) {
  // tag, message, paramL, paramH, delay, hwnd: little-endian, 24 bytes each.
  const unsigned char bytes[] = {
      1, 0, 0, 0, 0x00, 0x01, 0, 0, 0x48, 0x23, 0, 0, 0x01, 0x80, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0,
      1, 0, 0, 0, 0x01, 0x02, 0, 0, 0x10, 0x02, 0, 0, 0x2C, 0x01, 0, 0, 7,  0, 0, 0, 0, 0, 0, 0,
  };
  const win32::DesktopRect desk{0, 0, 1280, 1024};
  const JournalEntry key = DecodeEntry(bytes);
  const std::optional<INPUT> k = ToInput(key.event, desk);
  ASSERT_TRUE(k.has_value());
  EXPECT_EQ(k->ki.wVk, 'H');
  EXPECT_EQ(k->ki.wScan, 0x23);
  EXPECT_EQ(k->ki.dwFlags, static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY));
  const JournalEntry click = DecodeEntry(bytes + 24);
  const std::optional<INPUT> c = ToInput(click.event, desk);
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(win32::PixelFromAbsolute(c->mi.dx, 0, 1280), 0x210);
  EXPECT_EQ(win32::PixelFromAbsolute(c->mi.dy, 0, 1024), 0x12C);
  EXPECT_NE(c->mi.dwFlags & MOUSEEVENTF_LEFTDOWN, 0u);
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
  const OPENFILENAMEW& o = setup.Settings();
  EXPECT_EQ(o.lStructSize, sizeof(OPENFILENAMEW));
  EXPECT_STREQ(o.lpstrTitle, L"Open journal:");
  EXPECT_STREQ(o.lpstrDefExt, L"alg");
  EXPECT_EQ(o.Flags, 0x1006u);
  EXPECT_EQ(o.nFilterIndex, 1u);
  const wchar_t expected[] = L"Vesk Journal Files (.alg)\0*.alg\0";  // plus the array's NUL
  EXPECT_EQ(std::memcmp(o.lpstrFilter, expected, sizeof(expected)), 0);
  EXPECT_EQ(o.lpstrFile[0], L'\0');
  EXPECT_EQ(o.nMaxFile, win32::FileDialogSetup::kFileBuffer);
}

TEST(FileDialog, SaveDialogStartsWithTheInitialNameAndReturnsTheBufferContents) {
  win32::FileDialogSetup setup(JournalRequest(true), nullptr);
  EXPECT_STREQ(setup.Settings().lpstrFile, L"Journal.alg");
  std::wcscpy(setup.Settings().lpstrFile, L"C:\\work\\x.alg");
  EXPECT_EQ(setup.ChosenPath(), L"C:\\work\\x.alg");
}

TEST(FileDialog, OverlongInitialNameIsCutToTheBufferAndEmptyFieldsPassAsNull) {
  FileDialogRequest r = JournalRequest(true);
  r.initialName = std::string(100000, 'x');
  r.title.clear();
  r.defaultExtension.clear();
  win32::FileDialogSetup setup(r, nullptr);
  EXPECT_EQ(std::wcslen(setup.Settings().lpstrFile), win32::FileDialogSetup::kFileBuffer - 1);
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

// Who an access list lets in, as SID strings; each must have full access.
std::set<std::string> AllowedIn(const ACL* acl) {
  std::set<std::string> allowed;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(const_cast<ACL*>(acl), i, &ace)) return {"?"};
    const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(entry->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(entry->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
    char* text = nullptr;
    ::ConvertSidToStringSidA(const_cast<DWORD*>(&entry->SidStart), &text);
    allowed.insert(text != nullptr ? text : "?");
    ::LocalFree(text);
  }
  return allowed;
}

// What a profile folder gives: backups (SYSTEM) and administrators read
// it, other users do not.
std::set<std::string> ProfileFolderAccess() {
  HANDLE token = nullptr;
  BYTE user[256];
  DWORD userSize = sizeof(user);
  char* self = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const bool ok = ::GetTokenInformation(token, TokenUser, user, userSize, &userSize) &&
                  ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &self);
  ::CloseHandle(token);
  if (!ok) return {};
  std::set<std::string> expected = {self, "S-1-5-18", "S-1-5-32-544"};
  ::LocalFree(self);
  return expected;
}

TEST(FileWriter, NewFilesLetInTheUserSystemAndAdministratorsOnly) {
  // The rule itself (Wine keeps no access list: it shows the Unix mode).
  win32::NewFileSecurity rule;
  ASSERT_NE(rule.Attributes(), nullptr);
  EXPECT_EQ(AllowedIn(rule.Acl()), ProfileFolderAccess());
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(
      ::GetSecurityDescriptorControl(rule.Attributes()->lpSecurityDescriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "a folder shared with everyone must not widen it";

  // A written file lets nobody else in.
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
  const std::set<std::string> expected = ProfileFolderAccess();
  for (const std::string& sid : AllowedIn(acl)) EXPECT_EQ(expected.count(sid), 1u) << sid;
}

TEST(FileWriter, ReplacingKeepsWhatTheUserSetOnTheTarget) {
  TempDir dir;
  const std::string path = dir.File("kept.alg");
  ASSERT_EQ(WriteFileReplacing(path, "old", true), WriteOutcome::Written);
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_EQ(WriteFileReplacing(path, "new", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_NE(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
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
