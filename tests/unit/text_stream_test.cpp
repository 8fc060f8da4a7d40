// Unit tests of the log line stream.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/text_stream.h"

namespace vesk {
namespace {

TEST(TextStream, ComposesNumbersInPlainDecimal) {
  std::array<char, TextStream::kCapacity> buf{};
  TextStream ts(buf);
  ts << "Loaded " << std::int32_t{1234} << " records, " << std::uint32_t{4294967196u} << " "
     << std::int32_t{-7};
  EXPECT_EQ(ts.End(), "Loaded 1234 records, 4294967196 -7");
  EXPECT_STREQ(buf.data(), "Loaded 1234 records, 4294967196 -7");
}

TEST(TextStream, RewindStartsAFreshLine) {
  std::array<char, TextStream::kCapacity> buf{};
  TextStream ts(buf);
  ts << "a much longer first line";
  ts.End();
  ts.Rewind();
  ts << "short";
  EXPECT_STREQ(ts.End().data(), "short");
}

TEST(TextStream, ALongPathIsCutCleanlyAndTheStreamStaysUsable) {
  std::array<char, TextStream::kCapacity> buf{};
  buf.fill('#');
  TextStream ts(buf);
  const std::string path(1000, 'p');
  ts << "Saved " << std::int32_t{3} << " records to " << path;
  const std::string_view line = ts.End();
  EXPECT_EQ(line.size(), 199u);
  EXPECT_EQ(std::strlen(buf.data()), 199u);  // terminated inside the buffer
  EXPECT_EQ(line.substr(0, 22), "Saved 3 records to ppp");
  EXPECT_EQ(line.substr(196), "...");
  EXPECT_TRUE(ts.Truncated());
  ts << "more";  // ignored, never past the end
  EXPECT_EQ(ts.End().size(), 199u);
  ts.Rewind();
  ts << "next";
  EXPECT_FALSE(ts.Truncated());
  EXPECT_EQ(ts.End(), "next");
}

TEST(TextStream, ExactlyFullLineIsNotCut) {
  std::array<char, TextStream::kCapacity> buf{};
  TextStream ts(buf);
  ts << std::string(199, 'x');
  EXPECT_FALSE(ts.Truncated());
  EXPECT_EQ(ts.End(), std::string(199, 'x'));
  ts << "y";
  EXPECT_TRUE(ts.Truncated());
  EXPECT_EQ(ts.End().substr(196), "...");
}

}  // namespace
}  // namespace vesk
