// Unit tests of journal records and files.
#include <gtest/gtest.h>

#include "platform/file_writer.h"
#include "sim/harness.h"
#include "storage/journal.h"

namespace vesk::testing {
namespace {

JournalEntry Entry(std::uint32_t message, std::uint32_t x, std::uint32_t y, std::uint32_t delay,
                   std::int32_t tag = 1, std::uint32_t hwnd = 0) {
  return {tag, {message, x, y, delay, hwnd}};
}

TEST(JournalFormat, RecordsMatchTheGoldenFilesByteForByte) {
  Journal j;
  j.Append(Entry(0x0200, 100, 200, 16));
  EXPECT_EQ(EncodeJournal(j), ReadFile(std::string(VESK_GOLDEN_DIR) + "/mouse-move.alg"));

  Journal keys;
  keys.Append(Entry(0x0100, 0x1E41, 1, 5));
  keys.Append(Entry(0x0101, 0x1E41, 0x8001, 0xFFFFFFFF, 7, 0x12345678));
  EXPECT_EQ(EncodeJournal(keys), ReadFile(std::string(VESK_GOLDEN_DIR) + "/keys.alg"));

  Journal back;
  ASSERT_TRUE(ReadJournalFile(std::string(VESK_GOLDEN_DIR) + "/keys.alg", back, [] {}));
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.At(0), keys.At(0));
  EXPECT_EQ(back.At(1), keys.At(1));  // tag, time and hwnd kept as stored
}

TEST(JournalContainer, PositionsAndReferencesSurviveAppends) {
  Journal j;
  EXPECT_EQ(j.HeadPosition(), Journal::npos);
  EXPECT_EQ(j.Head(), nullptr);
  j.Append(Entry(0x200, 1, 1, 1));
  JournalEntry* first = j.Head();
  Journal::Position pos = j.HeadPosition();
  for (std::uint32_t i = 2; i <= 10000; ++i) j.Append(Entry(0x200, i, i, i));
  EXPECT_EQ(first->event.paramL, 1u);
  EXPECT_EQ(first, &j.At(0));
  std::uint32_t expected = 1;
  while (pos != Journal::npos) {
    ASSERT_EQ(j.GetNext(pos).event.paramL, expected);
    ++expected;
  }
  EXPECT_EQ(expected, 10001u);
  EXPECT_EQ(j.Count(), 10000);
  j.RemoveAll();
  EXPECT_EQ(j.Count(), 0);
  EXPECT_EQ(j.HeadPosition(), Journal::npos);
}

TEST(JournalFile, ReadingTakesWholeRecordsAndDropsATail) {
  TempDir dir;
  Journal source;
  source.Append(Entry(0x200, 1, 2, 3));
  source.Append(Entry(0x201, 4, 5, 6));
  const std::string two = EncodeJournal(source);
  const struct {
    std::string bytes;
    int count;
  } cases[] = {{"", 0}, {two.substr(0, 23), 0}, {two + "ab", 2}, {two, 2}};
  for (const auto& c : cases) {
    WriteFile("j.alg", c.bytes);
    Journal j;
    j.Append(Entry(0x300, 9, 9, 9));  // emptied once the file opens
    bool opened = false;
    ASSERT_TRUE(ReadJournalFile("j.alg", j, [&] { opened = true; }));
    EXPECT_TRUE(opened);
    EXPECT_EQ(j.Count(), c.count) << c.bytes.size();
  }
}

TEST(JournalFile, RecordsStraddlingReadChunksAreKept) {
  TempDir dir;
  Journal source;
  for (std::uint32_t i = 0; i < 50000; ++i) source.Append(Entry(0x200, i, ~i, i % 7, 1, i * 3));
  WriteFile("big.alg", EncodeJournal(source) + "xyz");
  Journal j;
  ASSERT_TRUE(ReadJournalFile("big.alg", j, [] {}));
  ASSERT_EQ(j.Count(), 50000);
  for (std::size_t i = 0; i < j.Size(); i += 997) EXPECT_EQ(j.At(i), source.At(i));
  EXPECT_EQ(j.At(49999), source.At(49999));
}

TEST(JournalFile, UnopenableFilesLeaveTheJournalAlone) {
  TempDir dir;
  std::filesystem::create_directory("folder.alg");
  for (const std::string& path : {std::string("missing.alg"), std::string("folder.alg"),
                                  std::string(""), std::string(1000, 'a') + ".alg"}) {
    Journal j;
    j.Append(Entry(0x200, 1, 1, 1));
    bool opened = false;
    EXPECT_FALSE(ReadJournalFile(path, j, [&] { opened = true; }));
    EXPECT_FALSE(opened);
    EXPECT_EQ(j.Count(), 1);
  }
}

TEST(FileWriter, ReplacesWholeAndOwnerOnly) {
  TempDir dir;
  WriteFile("out.alg", std::string(100, 'o'));
  ASSERT_EQ(WriteFileReplacing("out.alg", "new", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile("out.alg"), "new");
  ASSERT_EQ(WriteFileReplacing("fresh.alg", "", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile("fresh.alg"), "");
  const auto perms = std::filesystem::status("fresh.alg").permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(WriteFileReplacing("no/such/dir/x.alg", "x", true), WriteOutcome::OpenFailed);
  std::filesystem::create_directory("adir");
  EXPECT_EQ(WriteFileReplacing("adir", "x", true), WriteOutcome::OpenFailed);
  EXPECT_EQ(WriteFileReplacing(std::string(1000, 'b'), "x", true), WriteOutcome::OpenFailed);
}

TEST(FileWriter, AFailedWriteKeepsTheOldFile) {
  TempDir dir;
  WriteFile("keep.alg", "old contents");
  WriteOutcome outcome{};
  {
    FileSizeLimit limit(4);
    ASSERT_TRUE(limit.ok());
    outcome = WriteFileReplacing("keep.alg", std::string(4096, 'n'), true);
  }
  EXPECT_EQ(outcome, WriteOutcome::WriteFailed);
  EXPECT_EQ(ReadFile("keep.alg"), "old contents");
  // Nor is a temporary file left behind.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    names.push_back(e.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"keep.alg"});
}

}  // namespace
}  // namespace vesk::testing
