// Unit tests of the settings record and file.
#include <gtest/gtest.h>

#include <random>

#include "sim/harness.h"
#include "storage/settings.h"

namespace vesk::testing {
namespace {

const std::string kDefaults("\x01\x00\x00\x00\x00\x01\x0FVeskJournal.alg", 22);

TEST(SettingsFile, DefaultsAreTheTwentyTwoByteRecord) {
  TempDir dir;
  VeskSettings s;
  EXPECT_EQ(s.Serialize(), kDefaults);
  ASSERT_TRUE(s.Save());
  EXPECT_EQ(ReadFile("VeskSettings.auc"), kDefaults);
  // The golden file kept with the sources is the same record.
  EXPECT_EQ(ReadFile(std::string(VESK_GOLDEN_DIR) + "/default-settings.auc"), kDefaults);
}

TEST(SettingsFile, LengthPrefixFormsAtTheirBoundaries) {
  struct Case {
    std::size_t n;
    std::string prefix;
  };
  const Case cases[] = {
      {0, std::string("\x00", 1)},
      {254, "\xFE"},
      {255, std::string("\xFF\xFF\x00", 3)},
      {65533, std::string("\xFF\xFD\xFF", 3)},
      {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
  };
  for (const auto& c : cases) {
    VeskSettings s;
    s.defaultJournalPath = std::string(c.n, 'p');
    const std::string bytes = s.Serialize();
    ASSERT_EQ(bytes.size(), 6 + c.prefix.size() + c.n) << c.n;
    EXPECT_EQ(bytes.substr(6, c.prefix.size()), c.prefix) << c.n;
    VeskSettings back;
    back.defaultJournalPath = "unchanged";
    ASSERT_TRUE(back.Deserialize(bytes)) << c.n;
    EXPECT_EQ(back.defaultJournalPath, s.defaultJournalPath) << c.n;
  }
}

TEST(SettingsFile, SaveRewritesInPlaceAndKeepsTheStaleTail) {
  TempDir dir;
  VeskSettings s;
  s.defaultJournalPath = std::string(30, 'x');
  ASSERT_TRUE(s.Save());
  ASSERT_EQ(ReadFile("VeskSettings.auc").size(), 37u);
  s.repeatCount = 7;
  s.playAtStartup = 1;
  s.defaultJournalPath = "a.alg";
  ASSERT_TRUE(s.Save());
  const std::string bytes = ReadFile("VeskSettings.auc");
  ASSERT_EQ(bytes.size(), 37u);
  EXPECT_EQ(bytes.substr(0, 12), std::string("\x07\x00\x00\x00\x01\x01\x05"
                                             "a.alg",
                                             12));
  EXPECT_EQ(bytes.substr(12), std::string(25, 'x'));
  VeskSettings back;
  ASSERT_TRUE(back.Load());
  EXPECT_EQ(back.repeatCount, 7);
  EXPECT_EQ(back.playAtStartup, 1);
  EXPECT_EQ(back.playAtRecordedSpeed, 1);
  EXPECT_EQ(back.defaultJournalPath, "a.alg");
}

TEST(SettingsFile, RoundTripKeepsEveryFieldIncludingOddValues) {
  TempDir dir;
  VeskSettings s;
  s.repeatCount = -5;
  s.playAtStartup = 2;  // any non-zero byte counts as set and is kept
  s.playAtRecordedSpeed = 0;
  s.defaultJournalPath = "dir/file name.alg";
  ASSERT_TRUE(s.Save());
  VeskSettings back;
  ASSERT_TRUE(back.Load());
  EXPECT_EQ(back.repeatCount, -5);
  EXPECT_EQ(back.playAtStartup, 2);
  EXPECT_EQ(back.playAtRecordedSpeed, 0);
  EXPECT_EQ(back.defaultJournalPath, "dir/file name.alg");
  ASSERT_TRUE(back.Save());
  EXPECT_EQ(ReadFile("VeskSettings.auc")[4], '\x02');
}

TEST(SettingsFile, TextEndsAtTheFirstNul) {
  VeskSettings s;
  ASSERT_TRUE(
      s.Deserialize(std::string("\x01\x00\x00\x00\x00\x01\x05"
                                "ab\0cd",
                                12)));
  EXPECT_EQ(s.defaultJournalPath, "ab");
}

TEST(SettingsFile, DamagedFilesLeaveTheRecordAtItsValues) {
  const std::string damaged[] = {
      "",
      std::string("\x01\x00\x00", 3),              // ends inside the count
      std::string("\x01\x00\x00\x00\x00", 5),      // no second flag
      std::string("\x01\x00\x00\x00\x00\x01", 6),  // no length prefix
      std::string("\x09\x00\x00\x00\x01\x00\x0F"
                  "abc",
                  10),                                     // prefix announces more
      std::string("\x09\x00\x00\x00\x01\x00\xFF\x10", 8),  // 16-bit prefix cut short
      std::string("\x09\x00\x00\x00\x01\x00\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 13),  // 2 GiB announced
      std::string("\x09\x00\x00\x00\x01\x00\xFF\xFE\xFF\x02\x61\x00\x62\x00", 14),  // wide form
  };
  for (const auto& bytes : damaged) {
    TempDir dir;
    WriteFile("VeskSettings.auc", bytes);
    VeskSettings s;
    EXPECT_FALSE(s.Load()) << bytes.size();
    EXPECT_EQ(s.repeatCount, 1);
    EXPECT_EQ(s.playAtStartup, 0);
    EXPECT_EQ(s.playAtRecordedSpeed, 1);
    EXPECT_EQ(s.defaultJournalPath, "VeskJournal.alg");
  }
}

TEST(SettingsFile, MissingOrUnusableFiles) {
  TempDir dir;
  VeskSettings s;
  EXPECT_FALSE(s.Load());
  std::filesystem::create_directory("VeskSettings.auc");  // a folder of that name
  EXPECT_FALSE(s.Load());
  EXPECT_FALSE(s.Save());
  s.fileName = std::string(1000, 'n') + "/VeskSettings.auc";
  EXPECT_FALSE(s.Save());
  EXPECT_FALSE(s.Load());
}

TEST(SettingsFile, ArbitraryBytesNeverCrashAndWhatLoadsSavesBackTheSame) {
  std::mt19937 rng(12345);
  int loaded = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string bytes(rng() % 40, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 4 == 0 ? 0xFF : rng());
    VeskSettings s;
    if (!s.Deserialize(bytes)) continue;
    ++loaded;
    VeskSettings again;
    ASSERT_TRUE(again.Deserialize(s.Serialize()));
    EXPECT_EQ(again.repeatCount, s.repeatCount);
    EXPECT_EQ(again.playAtStartup, s.playAtStartup);
    EXPECT_EQ(again.playAtRecordedSpeed, s.playAtRecordedSpeed);
    EXPECT_EQ(again.defaultJournalPath, s.defaultJournalPath);
  }
  EXPECT_GT(loaded, 100);  // the generator reaches the whole-record case too
}

}  // namespace
}  // namespace vesk::testing
