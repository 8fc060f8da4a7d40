// The text form of a journal: exact round trips, the format people read and
// edit, errors named by line and column, and the edits.
#include <gtest/gtest.h>

#include <random>

#include "common/test_files.h"
#include "storage/event_names.h"
#include "storage/journal_edits.h"
#include "storage/journal_text.h"

namespace vesk::testing {
namespace {

std::vector<JournalEntry> Decode(const std::string& bytes) {
  Journal j;
  AppendRecords(bytes, j);
  return EntriesOf(j);
}

std::string TextRoundTrip(const std::string& bytes) {
  std::vector<JournalEntry> back;
  std::string error;
  EXPECT_TRUE(JournalFromText(JournalToText(Decode(bytes)), back, error)) << error;
  return EncodeEntries(back);
}

TEST(JournalText, GoldenJournalsComeBackByteForByte) {
  for (const char* name : {"keys.alg", "mouse-move.alg"}) {
    const std::string bytes = ReadFile(std::string(VESK_GOLDEN_DIR) + "/" + name);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(TextRoundTrip(bytes), bytes) << name;
  }
}

// Every message of the table and others, every field with values that
// stress the named part (extremes, stray bits), in random records.
TEST(JournalText, RandomJournalsOfEveryMessageAndFieldComeBack) {
  std::mt19937 rng(18);  // 32-bit draws
  std::vector<std::uint32_t> messages{0, 1, 0x1FF, 0x20D, 0xFFFFFFFF};
  for (const EventName& row : EventNames()) messages.push_back(row.message);
  const std::uint32_t edges[] = {0,      1,      0x7F,       0x80,       0xFF,
                                 0x8000, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  auto value = [&]() -> std::uint32_t {
    return rng() % 3 == 0 ? edges[rng() % std::size(edges)]
                          : (rng() % 2 == 0 ? rng() : rng() % 0x10000);
  };
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    for (int i = 0; i < 50; ++i) {
      JournalEntry e;
      e.tag = rng() % 4 == 0 ? static_cast<std::int32_t>(value()) : 1;
      e.event = {messages[rng() % messages.size()], value(), value(), value(),
                 rng() % 3 == 0 ? value() : 0};
      char rec[kJournalRecordSize];
      EncodeEntry(e, rec);
      bytes.append(rec, sizeof rec);
    }
    ASSERT_EQ(TextRoundTrip(bytes), bytes) << JournalToText(Decode(bytes));
  }
}

TEST(JournalText, WritesTheFormatPeopleRead) {
  const std::vector<JournalEntry> entries{
      {1, {WM_MOUSEMOVE, 512, 384, 0, 0}},
      {1, {WM_LBUTTONDOWN, static_cast<std::uint32_t>(-20), 384, 15, 0}},
      {1, {WM_MOUSEWHEEL, 5, 6, 80, static_cast<std::uint32_t>(-120)}},
      {1, {WM_KEYDOWN, 0x1E41, 0, 120, 0}},
      {2, {WM_KEYUP, 0x4724, 0x8000, 60, 0}},  // Home, extended
      {1, {WM_KEYDOWN, 0x3B70, 0, 1, 0}},      // F1: no row of the table has this key
      {1, {0x1234, 7, 8, 2, 9}},
  };
  EXPECT_EQ(JournalToText(entries),
            "vesk-journal 1\n"
            "# 7 events, 0.218 s at recorded speed\n"
            "# moves 1, clicks 1, keys 2, wheel 1\n"
            "+0     move 512 384\n"
            "+15    left-down -20 384\n"
            "+80    wheel 5 6 -120\n"
            "+120   key-down A scan=0x1E\n"
            "+60    key-up HOME scan=0x47 ext tag=2\n"
            "+1     key-down 0x70 scan=0x3B\n"
            "+2     other message=0x1234 paramL=0x00000007 paramH=0x00000008 hwnd=0x00000009\n");
}

TEST(JournalText, HandEditedTextReadsWithCommentsBlankLinesAndWindowsLineEnds) {
  std::vector<JournalEntry> out;
  std::string error;
  ASSERT_TRUE(
      JournalFromText("vesk-journal 1\r\n# made by hand\r\n\r\n"
                      "  +5 right-down 1 -2   # a comment\r\n"
                      "+0\tkey-down {#} scan=0x04\n+7 key-up a ext hwnd=16\n",
                      out, error))
      << error;
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], (JournalEntry{1, {WM_RBUTTONDOWN, 1, 0xFFFFFFFE, 5, 0}}));
  EXPECT_EQ(out[1], (JournalEntry{1, {WM_KEYDOWN, 0x0423, 0, 0, 0}}));
  EXPECT_EQ(out[2], (JournalEntry{1, {WM_KEYUP, 0x1E61, 0x8000, 7, 16}}));
}

TEST(JournalText, ErrorsNameTheLineAndColumnAndWhatWasExpected) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "line 1, column 1: expected the first line \"vesk-journal 1\""},
      {"vesk-journal 2\n", "line 1, column 14: expected version 1"},
      {"vesk-journal 1\n+5 mvoe 1 2\n", "line 2, column 4: expected a message name"},
      {"vesk-journal 1\n5 move 1 2\n", "line 2, column 1: expected a delay"},
      {"vesk-journal 1\n+5 move 1\n", "line 2, column 10: expected the y position"},
      {"vesk-journal 1\n+5 move 1 2147483648\n", "line 2, column 11: expected the y position"},
      {"vesk-journal 1\n+4294967296 move 1 2\n", "line 2, column 1: expected a delay"},
      {"vesk-journal 1\n+1 key-down NOPE\n", "line 2, column 13: expected a key name"},
      {"vesk-journal 1\n+1 key-up A scan=0x100\n", "line 2, column 13: expected scan= with"},
      {"vesk-journal 1\n+1 move 1 2 colour=red\n", "line 2, column 13: expected one of the"},
      {"vesk-journal 1\n+1 move 1 2 3\n", "line 2, column 13: expected a field"},
  };
  for (const auto& [text, expected] : cases) {
    std::vector<JournalEntry> out{JournalEntry{}};
    std::string error;
    EXPECT_FALSE(JournalFromText(text, out, error)) << text;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << text << " -> " << error;
    EXPECT_EQ(out.size(), 1u) << "nothing appended on an error";
  }
}

JournalEntry At(std::uint32_t message, std::uint32_t delay, std::uint32_t x = 0) {
  return {1, {message, x, 0, delay, 0}};
}

TEST(JournalEdits, DropMovesKeepsTheMoveAtEachClickAndDragsAndEveryoneElsesTime) {
  const std::vector<JournalEntry> in{
      At(WM_MOUSEMOVE, 100, 1),  At(WM_MOUSEMOVE, 10, 2),           // stray, then ends at the click
      At(WM_LBUTTONDOWN, 5, 2),  At(WM_MOUSEMOVE, 7, 3),            // dragging
      At(WM_LBUTTONUP, 3, 3),    {4, {WM_MOUSEMOVE, 9, 9, 11, 0}},  // not played: kept as is
      At(WM_MOUSEMOVE, 20, 4),   At(WM_MOUSEMOVE, 30, 5),
      At(WM_KEYDOWN, 1, 0x1E41), At(WM_MOUSEMOVE, 40, 6),  // nothing after it
  };
  JournalEdits edits;
  edits.dropMoves = true;
  const std::vector<JournalEntry> out = ApplyEdits(edits, in);
  const std::vector<JournalEntry> expected{At(WM_MOUSEMOVE, 110, 2),
                                           At(WM_LBUTTONDOWN, 5, 2),
                                           At(WM_MOUSEMOVE, 7, 3),
                                           At(WM_LBUTTONUP, 3, 3),
                                           in[5],
                                           At(WM_MOUSEMOVE, 50, 5),
                                           At(WM_KEYDOWN, 1, 0x1E41)};
  EXPECT_EQ(out, expected);
}

TEST(JournalEdits, TrimScaleAndCapChangeOnlyWhatPlays) {
  const std::vector<JournalEntry> in{{3, {WM_MOUSEMOVE, 0, 0, 50, 0}},
                                     At(WM_MOUSEMOVE, 900),
                                     At(WM_KEYDOWN, 3),
                                     At(WM_KEYUP, 0xFFFFFFFF),
                                     At(WM_KEYUP, 4000)};
  JournalEdits edits;
  edits.trim = true;
  edits.scaleDelays = 0.5;
  edits.maxDelay = 1000;
  const std::vector<JournalEntry> out = ApplyEdits(edits, in);
  std::vector<std::uint32_t> delays;
  for (const JournalEntry& e : out) delays.push_back(e.event.time);
  // Trimmed first played event, 3 * 0.5 rounds to 2, the impossible delay
  // plays as 0, 4000 * 0.5 is capped at 1000.
  EXPECT_EQ(delays, (std::vector<std::uint32_t>{50, 0, 2, 0, 1000}));
}

}  // namespace
}  // namespace vesk::testing
