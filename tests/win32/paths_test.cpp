// Folder names outside the system's code page and paths past MAX_PATH: the
// conversions as logic, and a real save, load and settings file in a folder
// named Zoë and in one of 250 characters (run under a Russian locale too,
// where code page 1251 has no ë).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/file_writer.h"
#include "platform/regular_file.h"
#include "platform/win32/paths.h"
#include "storage/settings.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

using win32::NarrowPath;
using win32::WidePath;

TEST(Utf8Paths, ANameTheCodePageCannotHoldIsRefusedNeverSubstituted) {
  const std::wstring zoe = L"C:\\Users\\Zo\u00EB\\j.alg";
  EXPECT_EQ(NarrowPath(zoe, 1251), std::nullopt) << "Cyrillic has no \u00EB";
  EXPECT_EQ(NarrowPath(zoe, 932), std::nullopt);
  EXPECT_EQ(NarrowPath(zoe, 1252), std::optional<std::string>("C:\\Users\\Zo\xEB\\j.alg"));
  EXPECT_EQ(NarrowPath(zoe, CP_UTF8), std::optional<std::string>("C:\\Users\\Zo\xC3\xAB\\j.alg"));
  EXPECT_EQ(NarrowPath(L"\u0417\u043E\u044F", 1251), std::optional<std::string>("\xC7\xEE\xFF"));
  // Best fit would turn the letter into a plain e: a different folder.
  EXPECT_EQ(NarrowPath(L"Zo\u0113", 1252), std::nullopt);

  EXPECT_EQ(WidePath("Zo\xC3\xAB", CP_UTF8), std::optional<std::wstring>(L"Zo\u00EB"));
  EXPECT_EQ(WidePath("Zo\xC3(", CP_UTF8), std::nullopt) << "damaged bytes open nothing";
  EXPECT_EQ(WidePath(std::string("a\0b", 3), CP_UTF8), std::nullopt);
  const std::optional<std::wstring> absolute = WidePath("C:/a/./b/../j.alg", CP_UTF8);
  EXPECT_EQ(absolute, std::optional<std::wstring>(L"\\\\?\\C:\\a\\j.alg"));
  EXPECT_EQ(WidePath("\\\\server\\share\\j.alg", CP_UTF8),
            std::optional<std::wstring>(L"\\\\?\\UNC\\server\\share\\j.alg"));

  const std::string note = win32::PathRefusedNote(zoe);
  EXPECT_NE(note.find(std::to_string(::GetACP())), std::string::npos) << note;
  EXPECT_NE(note.find("Zo\xC3\xAB"), std::string::npos) << note;
}

// The folder as the dialogs hand it over: UTF-16 from the system.
std::wstring MakeFolder(const TempDir& dir, const std::wstring& name) {
  const std::wstring base = *WidePath(dir.path().string());
  const std::wstring folder = base + L"\\" + name;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

TEST(Utf8Paths, SavedLoadedAndRememberedInAFolderNamedZoeAndInOneOf250Characters) {
  // The system's own code page, which applies where the manifest does not.
  char systemPage[8] = {};
  ::GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, systemPage,
                   sizeof(systemPage));
  std::printf("active code page %u, the system's %s\n", ::GetACP(), systemPage);
  if (const char* expected = std::getenv("VESK_EXPECT_SYSTEM_CODE_PAGE")) {
    ASSERT_STREQ(systemPage, expected) << "the locale asked for is not in place";
  }
  TempDir dir;
  for (const std::wstring& name : {std::wstring(L"Zo\u00EB"), std::wstring(250, L'd')}) {
    const std::wstring folder = MakeFolder(dir, name);
    const std::optional<std::string> bytes = NarrowPath(folder);
    if (!bytes) {
      // A system code page without the letter and no UTF-8 from the
      // manifest: refused, as the dialogs refuse it.
      EXPECT_NE(::GetACP(), static_cast<UINT>(CP_UTF8));
      continue;
    }
    const std::string path = *bytes + "\\j.alg";
    SCOPED_TRACE(path.size());
    ASSERT_EQ(WriteFileReplacing(path, "journal", true), WriteOutcome::Written);
    ASSERT_EQ(WriteFileReplacing(path, "journal again", true), WriteOutcome::Written);
    EXPECT_NE(::GetFileAttributesW((folder + L"\\j.alg").c_str()), INVALID_FILE_ATTRIBUTES)
        << "saved under another name";
    RegularFile file;
    ASSERT_TRUE(file.Open(path, RegularFile::Mode::Read));
    char buffer[32] = {};
    EXPECT_EQ(std::string(buffer, file.Read(buffer, sizeof(buffer))), "journal again");

    // The settings file keeps the bytes, and they open the journal again.
    VeskSettings saved;
    saved.defaultJournalPath = path;
    ASSERT_TRUE(saved.Save());
    VeskSettings loaded;
    ASSERT_TRUE(loaded.Load());
    EXPECT_EQ(loaded.defaultJournalPath, path);
    RegularFile again;
    EXPECT_TRUE(again.Open(loaded.defaultJournalPath, RegularFile::Mode::Read));
  }
}

}  // namespace
}  // namespace vesk::testing
