// Files that cannot be turned against the user: saves that follow no link
// and replace nothing they may not, readers that take ordinary files only
// and refuse journals too large to hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/test_files.h"
#include "platform/file_writer.h"
#include "storage/journal.h"
#include "storage/settings.h"

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::set<std::string> FolderNames() {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(".")) names.insert(e.path().filename().string());
  return names;
}

// Temporary names taken from a list, as an attacker who guessed them would see.
class ScriptedTempNames {
 public:
  explicit ScriptedTempNames(std::vector<std::string> names) : names_(std::move(names)) {
    SetTempNameSourceForTesting([this] { return names_.at(next_++ % names_.size()); });
  }
  ~ScriptedTempNames() { SetTempNameSourceForTesting({}); }

 private:
  std::vector<std::string> names_;
  std::size_t next_ = 0;
};

class Umask {
 public:
  explicit Umask(mode_t m) : old_(::umask(m)) {}
  ~Umask() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST(SafeSave, ALinkPlantedWhereTheTemporaryFileGoesIsNeverFollowed) {
  TempDir dir;
  WriteFile("victim", "the user's other file");
  ::chmod("victim", 0644);
  // The name a save used to take, and the first names it is told to take now.
  fs::create_symlink("victim", "j.alg.vesk-tmp");
  fs::create_symlink("victim", ".vesk-aaaaaa");
  fs::create_symlink("created-through-link", ".vesk-bbbbbb");  // dangling
  ScriptedTempNames names({".vesk-aaaaaa", ".vesk-bbbbbb", ".vesk-cccccc"});

  ASSERT_EQ(WriteFileReplacing("j.alg", "journal bytes", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile("j.alg"), "journal bytes");
  EXPECT_EQ(ReadFile("victim"), "the user's other file");
  EXPECT_EQ(ModeOf("victim"), 0644u);
  EXPECT_FALSE(fs::exists("created-through-link"));
  EXPECT_TRUE(fs::is_symlink("j.alg.vesk-tmp"));
  EXPECT_TRUE(fs::is_symlink(".vesk-aaaaaa"));
  EXPECT_EQ(FolderNames(), (std::set<std::string>{"victim", "j.alg", "j.alg.vesk-tmp",
                                                  ".vesk-aaaaaa", ".vesk-bbbbbb"}));
}

TEST(SafeSave, AFolderFullOfTakenNamesIsAnOpenFailure) {
  TempDir dir;
  WriteFile(".vesk-taken1", "someone's");
  ScriptedTempNames names({".vesk-taken1"});
  EXPECT_EQ(WriteFileReplacing("j.alg", "x", true), WriteOutcome::OpenFailed);
  EXPECT_EQ(ReadFile(".vesk-taken1"), "someone's");
  EXPECT_FALSE(fs::exists("j.alg"));
}

TEST(SafeSave, TwoSavesToOnePathNeverShareATemporaryFile) {
  TempDir dir;
  // Another program's save in progress, at the name a save used to take.
  WriteFile("j.alg.vesk-tmp", "another save, half written");
  ASSERT_EQ(WriteFileReplacing("j.alg", "mine", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile("j.alg.vesk-tmp"), "another save, half written");
  EXPECT_EQ(ReadFile("j.alg"), "mine");
  fs::remove("j.alg.vesk-tmp");

  // And two at once, many times over: each reports Written and the file is
  // always one of them whole.
  const std::string a(256 * 1024, 'a');
  const std::string b(256 * 1024, 'b');
  std::vector<WriteOutcome> outcomes(2 * 40);
  auto saver = [&](const std::string& bytes, std::size_t first) {
    for (std::size_t i = 0; i < 40; ++i)
      outcomes[first + i] = WriteFileReplacing("j.alg", bytes, true);
  };
  std::thread one(saver, std::cref(a), 0);
  std::thread two(saver, std::cref(b), 40);
  one.join();
  two.join();
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_EQ(outcomes[i], WriteOutcome::Written) << i;
  }
  const std::string result = ReadFile("j.alg");
  EXPECT_TRUE(result == a || result == b) << result.size();
  EXPECT_EQ(FolderNames(), std::set<std::string>{"j.alg"});
}

TEST(SafeSave, ReadOnlyAndSpecialTargetsAreRefusedAndKept) {
  TempDir dir;
  WriteFile("readonly.alg", "keep me");
  ::chmod("readonly.alg", 0444);
  EXPECT_EQ(WriteFileReplacing("readonly.alg", "new", true), WriteOutcome::OpenFailed);
  EXPECT_EQ(ReadFile("readonly.alg"), "keep me");
  EXPECT_EQ(ModeOf("readonly.alg"), 0444u);

  ASSERT_EQ(::mkfifo("pipe.alg", 0600), 0);
  EXPECT_EQ(WriteFileReplacing("pipe.alg", "new", true), WriteOutcome::OpenFailed);
  EXPECT_TRUE(fs::is_fifo("pipe.alg"));
  EXPECT_EQ(FolderNames(), (std::set<std::string>{"readonly.alg", "pipe.alg"}));
}

TEST(SafeSave, ANameAtTheFileSystemsLimitIsSaved) {
  TempDir dir;
  const long limit = ::pathconf(".", _PC_NAME_MAX);
  ASSERT_GT(limit, 16);
  const std::string name = std::string(static_cast<std::size_t>(limit) - 4, 'n') + ".alg";
  ASSERT_EQ(WriteFileReplacing(name, "long name", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile(name), "long name");
  ASSERT_EQ(WriteFileReplacing(name, "again", true), WriteOutcome::Written);
  EXPECT_EQ(ReadFile(name), "again");
  EXPECT_EQ(WriteFileReplacing(name + "x", "too long", true), WriteOutcome::OpenFailed);
  EXPECT_EQ(FolderNames(), std::set<std::string>{name});
}

TEST(SafeSave, TheResultIsTheOwnersAloneWhateverWasThere) {
  TempDir dir;
  Umask none(0);
  WriteFile("shared.alg", "old");
  ::chmod("shared.alg", 0666);
  ASSERT_EQ(WriteFileReplacing("shared.alg", "typed text", true), WriteOutcome::Written);
  EXPECT_EQ(ModeOf("shared.alg"), 0600u);
  ASSERT_EQ(WriteFileReplacing("fresh.alg", "typed text", true), WriteOutcome::Written);
  EXPECT_EQ(ModeOf("fresh.alg"), 0600u);
  Umask usual(022);
  ASSERT_EQ(WriteFileReplacing("plain.txt", "text", false), WriteOutcome::Written);
  EXPECT_EQ(ModeOf("plain.txt"), 0644u);
}

// Runs fn on a thread of its own and says whether it finished in time; a
// reader that blocks on a pipe is then freed by opening the pipe's far end.
template <class Fn>
bool FinishesPromptly(Fn fn, const std::string& pipeToFree = {}) {
  auto done = std::async(std::launch::async, fn);
  const bool prompt = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!prompt && !pipeToFree.empty()) {
    const int fd = ::open(pipeToFree.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  done.wait();
  return prompt;
}

TEST(OrdinaryFilesOnly, JournalsFromPipesDevicesAndFoldersAreNotOpened) {
  TempDir dir;
  ASSERT_EQ(::mkfifo("pipe.alg", 0600), 0);
  fs::create_directory("folder.alg");
  for (const std::string& path : {std::string("pipe.alg"), std::string("/dev/zero"),
                                  std::string("/dev/null"), std::string("folder.alg")}) {
    Journal j;
    j.Append({1, {0x200, 1, 2, 3, 0}});
    bool opened = false;
    JournalRead read = JournalRead::Loaded;
    EXPECT_TRUE(FinishesPromptly([&] { read = LoadJournalFile(path, j, [&] { opened = true; }); },
                                 path == "pipe.alg" ? path : ""))
        << path;
    EXPECT_EQ(read, JournalRead::OpenFailed) << path;
    EXPECT_FALSE(opened) << path;
    EXPECT_EQ(j.Count(), 1) << path;
  }
  // A link to an ordinary file is followed.
  WriteFile("real.alg", std::string(48, '\0'));
  fs::create_symlink("real.alg", "link.alg");
  Journal j;
  EXPECT_EQ(LoadJournalFile("link.alg", j, [] {}), JournalRead::Loaded);
  EXPECT_EQ(j.Count(), 2);
}

TEST(OrdinaryFilesOnly, SettingsFromPipesAndDevicesAreNotReadNorWritten) {
  TempDir dir;
  ASSERT_EQ(::mkfifo("VeskSettings.auc", 0600), 0);
  VeskSettings s;
  s.repeatCount = 7;
  EXPECT_TRUE(FinishesPromptly([&] { EXPECT_FALSE(s.Load()); }, "VeskSettings.auc"));
  EXPECT_EQ(s.repeatCount, 7);
  EXPECT_TRUE(FinishesPromptly([&] { EXPECT_FALSE(s.Save()); }));
  EXPECT_TRUE(fs::is_fifo("VeskSettings.auc"));
  s.fileName = "/dev/zero";
  EXPECT_TRUE(FinishesPromptly([&] { EXPECT_FALSE(s.Load()); }));
  // An ordinary file through a link still loads.
  fs::remove("VeskSettings.auc");
  VeskSettings saved;
  saved.fileName = "real.auc";
  saved.repeatCount = 3;
  ASSERT_TRUE(saved.Save());
  fs::create_symlink("real.auc", "VeskSettings.auc");
  VeskSettings back;
  ASSERT_TRUE(back.Load());
  EXPECT_EQ(back.repeatCount, 3);
}

TEST(LargeJournals, MoreRecordsThanACountCanHoldAreRefusedUntouched) {
  TempDir dir;
  // A sparse file: its size says 2^31 records, it takes no room on disk.
  const int fd = ::open("huge.alg", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const off_t size = static_cast<off_t>((kMaxJournalRecords + 1) * kJournalRecordSize);
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  Journal j;
  j.Append({1, {0x200, 1, 2, 3, 0}});
  bool opened = false;
  JournalRead read = JournalRead::Loaded;
  EXPECT_TRUE(
      FinishesPromptly([&] { read = LoadJournalFile("huge.alg", j, [&] { opened = true; }); }));
  EXPECT_EQ(read, JournalRead::TooLarge);
  EXPECT_FALSE(opened);
  EXPECT_EQ(j.Count(), 1);
  EXPECT_EQ(JournalRefusedLine(read, "huge.alg"),
            "Could not load huge.alg: it holds more than 2147483647 records");
}

#if defined(__SANITIZE_ADDRESS__)
#define VESK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VESK_ADDRESS_SANITIZER 1
#endif
#endif

TEST(LargeJournals, MemoryRunningOutIsARefusalNotACrash) {
#ifdef VESK_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#else
  TempDir dir;
  // 1 GiB of records (sparse) read under a 256 MiB address-space limit.
  const int fd = ::open("big.alg", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
  ::close(fd);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit as{};
    ::getrlimit(RLIMIT_AS, &as);
    as.rlim_cur = 256u << 20;
    if (::setrlimit(RLIMIT_AS, &as) != 0) ::_exit(10);
    Journal j;
    bool opened = false;
    const JournalRead read = LoadJournalFile("big.alg", j, [&] { opened = true; });
    ::_exit(read == JournalRead::NoMemory && opened && j.Empty() ? 0 : 20);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the reader died: signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(JournalRefusedLine(JournalRead::NoMemory, "big.alg"),
            "Could not load big.alg: not enough memory");
#endif
}

}  // namespace
}  // namespace vesk::testing
