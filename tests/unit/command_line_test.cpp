// The commands that need no window: check, text, journal, --help and bad
// arguments, with their exit statuses and what they print and write.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "app/command_line.h"
#include "common/test_files.h"
#include "storage/journal_text.h"

namespace vesk::testing {
namespace {

struct Result {
  Invocation inv;
  std::string out, err;
};

Result Vesk(std::vector<const char*> args) {
  args.insert(args.begin(), "vesk");
  std::ostringstream out, err;
  Result r{HandleCommandLine(static_cast<int>(args.size()), args.data(), out, err), {}, {}};
  r.out = out.str();
  r.err = err.str();
  return r;
}

std::string Records(const std::vector<JournalEntry>& entries) { return EncodeEntries(entries); }

TEST(CommandLine, NoArgumentsIsTheWindowedProgram) {
  const Result r = Vesk({});
  EXPECT_TRUE(r.inv.startProgram);
  EXPECT_FALSE(r.inv.play);
}

TEST(CommandLine, BadArgumentsExitTwoWithTheUsageOnStderr) {
  TempDir dir;
  WriteFile("j.alg", Records({{1, {WM_MOUSEMOVE, 1, 2, 3, 0}}}));
  for (const std::vector<const char*>& args :
       {std::vector<const char*>{"play"},
        {"play", "j.alg", "--repeat", "0"},
        {"play", "j.alg", "--repeat", "2", "--loop"},
        {"play", "j.alg", "--speed", "fast"},
        {"play", "j.alg", "--speed", "50", "--default-speed"},
        {"journal", "x.txt"},
        {"dance"},
        {"play", "j.alg", "--scale-delays", "-1"}}) {
    const Result r = Vesk(args);
    EXPECT_FALSE(r.inv.startProgram) << args[0];
    EXPECT_EQ(r.inv.exitStatus, kExitBadArguments) << args.back();
    EXPECT_NE(r.err.find("Usage: vesk"), std::string::npos) << r.err;
  }
  const Result help = Vesk({"--help"});
  EXPECT_EQ(help.inv.exitStatus, 0);
  EXPECT_NE(help.out.find("130  ended by SIGINT or SIGTERM"), std::string::npos);
}

TEST(CommandLine, PlayChecksTheJournalBeforeAnyWindow) {
  TempDir dir;
  WriteFile("empty.alg", "");
  WriteFile("tags.alg", Records({{2, {WM_MOUSEMOVE, 1, 2, 3, 0}}}));
  WriteFile("ok.alg", Records({{1, {WM_MOUSEMOVE, 1, 2, 3, 0}}}));
  for (const char* file : {"missing.alg", "empty.alg", "tags.alg", "."}) {
    const Result r = Vesk({"play", file});
    EXPECT_FALSE(r.inv.startProgram) << file;
    EXPECT_EQ(r.inv.exitStatus, kExitNothingToPlay) << file;
  }
  const Result r = Vesk({"play", "ok.alg", "--loop", "--speed", "200", "--countdown", "0",
                         "--drop-moves", "--max-delay", "500"});
  ASSERT_TRUE(r.inv.startProgram && r.inv.play);
  EXPECT_TRUE(r.inv.play->loop);
  EXPECT_EQ(r.inv.play->speedPercent, 200);
  EXPECT_EQ(r.inv.play->countdownSeconds, 0);
  EXPECT_TRUE(r.inv.play->edits.dropMoves);
  EXPECT_EQ(r.inv.play->edits.maxDelay, 500u);
}

TEST(CommandLine, CheckTellsWhatTheJournalHoldsAndWhatIsUnusual) {
  TempDir dir;
  WriteFile("j.alg", Records({{1, {WM_MOUSEMOVE, static_cast<std::uint32_t>(-5), 7, 1500, 0}},
                              {1, {WM_LBUTTONDOWN, 30, 40, 250, 0}},
                              {1, {WM_KEYDOWN, 0x1E41, 0, 0xFFFFFFFF, 0}},
                              {3, {0x0999, 0, 0, 5, 0}}}) +
                         "tail");
  const Result r = Vesk({"check", "j.alg"});
  EXPECT_EQ(r.inv.exitStatus, 0);
  EXPECT_EQ(r.out,
            "j.alg: 4 events, 3 to play\n"
            "One pass: 1.750 s at recorded speed\n"
            "Kinds: 1 move, 1 click, 1 key, 0 wheel turns\n"
            "Screen area: x -5 to 30, y 7 to 40\n"
            "Unusual: 1 record whose tag is not 1 (not played); 1 delay above 24.8 days that "
            "no recording makes (played as 0); 1 message no backend replays; a short tail of 4 "
            "bytes (dropped)\n");
  WriteFile("none.alg", "short");
  EXPECT_EQ(Vesk({"check", "none.alg"}).inv.exitStatus, kExitNothingToPlay);
}

TEST(CommandLine, TextAndJournalRoundTripThroughOwnerOnlyFiles) {
  TempDir dir;
  const std::string bytes = Records(
      {{1, {WM_MOUSEMOVE, 1, 2, 3, 0}}, {-4, {WM_KEYUP, 0xFFFFFFFF, 0xFFFFFFFF, 9, 0xABCDEF}}});
  WriteFile("j.alg", bytes + "xy");
  const Result text = Vesk({"text", "j.alg", "-o", "j.txt"});
  EXPECT_EQ(text.inv.exitStatus, 0);
  EXPECT_NE(text.err.find("short tail of 2 bytes"), std::string::npos);
  EXPECT_EQ(Vesk({"text", "j.alg"}).out, ReadFile("j.txt"));
  EXPECT_EQ(Vesk({"journal", "j.txt", "-o", "back.alg"}).inv.exitStatus, 0);
  EXPECT_EQ(ReadFile("back.alg"), bytes);
  struct stat st {};
  ASSERT_EQ(stat("back.alg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat("j.txt", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Edits on the way back; a broken line writes nothing.
  WriteFile("e.txt", "vesk-journal 1\n+900 move 1 2\n+5000 left-down 1 2\n");
  EXPECT_EQ(
      Vesk({"journal", "e.txt", "-o", "e.alg", "--trim", "--max-delay", "100"}).inv.exitStatus, 0);
  EXPECT_EQ(ReadFile("e.alg"),
            Records({{1, {WM_MOUSEMOVE, 1, 2, 0, 0}}, {1, {WM_LBUTTONDOWN, 1, 2, 100, 0}}}));
  WriteFile("bad.txt", "vesk-journal 1\n+5 move 1 2\n+5 move 1 x\n");
  const Result bad = Vesk({"journal", "bad.txt", "-o", "e.alg"});
  EXPECT_EQ(bad.inv.exitStatus, kExitNothingToPlay);
  EXPECT_NE(bad.err.find("bad.txt: line 3, column 11: expected the y position"), std::string::npos)
      << bad.err;
  EXPECT_EQ(ReadFile("e.alg").size(), 48u) << "the old file is untouched";
}

}  // namespace
}  // namespace vesk::testing
