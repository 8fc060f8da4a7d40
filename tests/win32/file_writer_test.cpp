// Saves and reads on Windows: temporary names nobody else can take over,
// read-only and held targets, devices refused as journals.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_writer.h"
#include "platform/regular_file.h"
#include "storage/journal.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    names.insert(e.path().filename().string());
  }
  return names;
}

TEST(FileWriterSafety, TakenTemporaryNamesAreSkippedNotOpened) {
  TempDir dir;
  WriteFile(dir.File(".vesk-aaaaaa"), "another save in progress");
  WriteFile(dir.File("j.alg.vesk-tmp"), "the name saves used to take");
  std::vector<std::string> names = {".vesk-aaaaaa", ".vesk-bbbbbb"};
  std::size_t next = 0;
  SetTempNameSourceForTesting([&] { return names.at(next++); });
  const WriteOutcome outcome = WriteFileReplacing(dir.File("j.alg"), "mine", true);
  SetTempNameSourceForTesting({});
  EXPECT_EQ(outcome, WriteOutcome::Written);
  EXPECT_EQ(next, 2u);
  EXPECT_EQ(ReadFile(dir.File("j.alg")), "mine");
  EXPECT_EQ(ReadFile(dir.File(".vesk-aaaaaa")), "another save in progress");
  EXPECT_EQ(ReadFile(dir.File("j.alg.vesk-tmp")), "the name saves used to take");
  EXPECT_EQ(Names(dir), (std::set<std::string>{".vesk-aaaaaa", "j.alg", "j.alg.vesk-tmp"}));
}

TEST(FileWriterSafety, AReadOnlyTargetIsRefusedAndKept) {
  TempDir dir;
  const std::string path = dir.File("readonly.alg");
  WriteFile(path, "keep me");
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(WriteFileReplacing(path, "new", true), WriteOutcome::OpenFailed);
  EXPECT_EQ(ReadFile(path), "keep me");
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Names(dir), std::set<std::string>{"readonly.alg"});
}

TEST(FileWriterSafety, ANameOf255CharactersIsSaved) {
  TempDir dir;
  const std::string name = std::string(251, 'n') + ".alg";
  ASSERT_EQ(WriteFileReplacing(dir.File(name), "long", true), WriteOutcome::Written);
  ASSERT_EQ(WriteFileReplacing(dir.File(name), "again", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile(dir.File(name)), "again");
  EXPECT_EQ(Names(dir), std::set<std::string>{name});
}

// Another program (a virus scanner, an indexer) has the target open without
// letting anyone replace it.
HANDLE HoldExclusively(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

TEST(FileWriterSafety, ATargetHeldForAMomentIsReplacedOnceReleased) {
  TempDir dir;
  const std::string path = dir.File("held.alg");
  WriteFile(path, "old");
  HANDLE held = HoldExclusively(path);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  // The scanner lets go after a quarter of a second.
  std::thread scanner([held] {
    ::Sleep(250);
    ::CloseHandle(held);
  });
  const WriteOutcome outcome = WriteFileReplacing(path, "new", true);
  scanner.join();
  EXPECT_EQ(outcome, WriteOutcome::Written);
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(Names(dir), std::set<std::string>{"held.alg"});
}

TEST(FileWriterSafety, ATargetHeldThroughoutIsAnOpenFailureAndKept) {
  TempDir dir;
  const std::string path = dir.File("held.alg");
  WriteFile(path, "old");
  HANDLE held = HoldExclusively(path);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const WriteOutcome outcome = WriteFileReplacing(path, "new", true);
  ::CloseHandle(held);
  EXPECT_EQ(outcome, WriteOutcome::OpenFailed);
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Names(dir), std::set<std::string>{"held.alg"});
}

TEST(FileWriterSafety, DevicesAndFoldersAreNotJournals) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder.alg");
  for (const std::string& path : {std::string("NUL"), std::string("CON"), dir.File("folder.alg")}) {
    RegularFile file;
    EXPECT_FALSE(file.Open(path, RegularFile::Mode::Read)) << path;
    Journal j;
    j.Append({1, {0x200, 1, 2, 3, 0}});
    EXPECT_EQ(LoadJournalFile(path, j, [] {}), JournalRead::OpenFailed) << path;
    EXPECT_EQ(j.Count(), 1) << path;
  }
  RegularFile update;
  EXPECT_FALSE(update.Open("NUL", RegularFile::Mode::Update));
}

}  // namespace
}  // namespace vesk::testing
