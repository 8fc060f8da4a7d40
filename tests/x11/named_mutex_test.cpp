// The named mutex shared between instances: exclusion, bounded waits,
// recursion, and a holder that dies.
#include "platform/posix/named_mutex.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vesk::posix {
namespace {

std::string UniqueName(const char* what) {
  return std::string("vesk-test-") + what + "-" + std::to_string(getpid());
}

TEST(NamedMutex, AnotherInstanceWaitsItsTimeOutThenGetsItWhenReleased) {
  const std::string name = UniqueName("exclusion");
  NamedMutexTable first;   // stands for one running program
  NamedMutexTable second;  // and this for another
  const MutexHandle a = first.Create(name);
  const MutexHandle b = second.Create(name);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_EQ(first.Wait(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(first.Wait(a, 0), WAIT_OBJECT_0);  // recursive for its owner

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(second.Wait(b, 60), WAIT_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(60));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));

  EXPECT_TRUE(first.Release(a));
  EXPECT_EQ(second.Wait(b, 0), WAIT_TIMEOUT);  // still held once
  EXPECT_TRUE(first.Release(a));
  EXPECT_FALSE(first.Release(a));  // not owned any more
  EXPECT_EQ(second.Wait(b, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(second.Release(b));
  first.Close(a);
  second.Close(b);
  unlink(first.LockPath(name).c_str());
}

TEST(NamedMutex, AHolderThatDiesReleasesIt) {
  const std::string name = UniqueName("crash");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    NamedMutexTable table;
    const MutexHandle h = table.Create(name);
    table.Wait(h, 0);
    _exit(0);  // dies holding it
  }
  int status = 0;
  waitpid(child, &status, 0);
  NamedMutexTable table;
  const MutexHandle h = table.Create(name);
  EXPECT_EQ(table.Wait(h, 1000), WAIT_OBJECT_0);
  unlink(table.LockPath(name).c_str());
}

TEST(NamedMutex, BadHandlesFail) {
  NamedMutexTable table;
  EXPECT_EQ(table.Wait(0, 10), WAIT_FAILED);
  EXPECT_EQ(table.Wait(77, 10), WAIT_FAILED);
  EXPECT_FALSE(table.Release(77));
  table.Close(77);  // nothing to close: no effect
  const std::string path = table.LockPath("a/b c");
  EXPECT_NE(path.find("/vesk-a_b_c.lock"), std::string::npos) << path;
}

// A folder of the test's own standing in for /tmp, and XDG_RUNTIME_DIR set
// as the test says while it lives.
class LockFolders : public ::testing::Test {
 protected:
  LockFolders() {
    char pattern[] = "/tmp/vesk-lock-test-XXXXXX";
    base = mkdtemp(pattern);
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) oldRuntime = old;
    unsetenv("XDG_RUNTIME_DIR");
  }
  ~LockFolders() override {
    if (oldRuntime) setenv("XDG_RUNTIME_DIR", oldRuntime->c_str(), 1);
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
  }
  std::string Private() const { return base + "/vesk-" + std::to_string(geteuid()); }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  std::string base;
  std::optional<std::string> oldRuntime;
};

TEST_F(LockFolders, APrivateRuntimeFolderIsUsed) {
  const std::string runtime = base + "/runtime";
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  NamedMutexTable table(base);
  const MutexHandle h = table.Create("vesk-test-runtime");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(table.LockPath("vesk-test-runtime"), runtime + "/vesk-vesk-test-runtime.lock");
  EXPECT_EQ(ModeOf(runtime + "/vesk-vesk-test-runtime.lock"), 0600u);
  EXPECT_FALSE(std::filesystem::exists(Private())) << "no private folder was needed";
  table.Close(h);
}

TEST_F(LockFolders, WithoutAPrivateRuntimeFolderOurOwnIsMadeFirst) {
  // A runtime folder that others may write is passed over.
  const std::string runtime = base + "/open-runtime";
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  ASSERT_EQ(chmod(runtime.c_str(), 0777), 0);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  NamedMutexTable table(base);
  const MutexHandle h = table.Create("vesk-test-private");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(ModeOf(Private()), 0700u);
  EXPECT_EQ(table.LockPath("vesk-test-private"), Private() + "/vesk-vesk-test-private.lock");
  EXPECT_TRUE(std::filesystem::is_empty(runtime));
  EXPECT_EQ(table.Wait(h, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(table.Release(h));
  table.Close(h);
}

TEST_F(LockFolders, APlantedFolderIsRefusedAndTheProgramGoesOnWithoutTheLock) {
  struct Planted {
    const char* what;
    std::function<bool(const std::string&)> plant;  // false: cannot be planted here
  };
  const std::string elsewhere = base + "/elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  const std::vector<Planted> cases = {
      {"open to others",
       [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chmod(p.c_str(), 0777) == 0;
       }},
      {"readable by the group",
       [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chmod(p.c_str(), 0750) == 0;
       }},
      {"a link to a folder of ours",
       [&](const std::string& p) { return symlink(elsewhere.c_str(), p.c_str()) == 0; }},
      {"a file", [](const std::string& p) { return creat(p.c_str(), 0600) >= 0; }},
      {"another user's",
       [](const std::string& p) {
         // Only root can give a folder away; elsewhere this case is skipped.
         return geteuid() == 0 && mkdir(p.c_str(), 0700) == 0 &&
                chown(p.c_str(), 65534, 65534) == 0;
       }},
  };
  for (const Planted& c : cases) {
    std::error_code ec;
    std::filesystem::remove_all(Private(), ec);
    if (!c.plant(Private())) {
      std::printf("skipped: %s\n", c.what);
      continue;
    }
    std::string why;
    EXPECT_EQ(NamedMutexTable::LockFolder(base, &why), "") << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
    NamedMutexTable table(base);
    EXPECT_EQ(table.Create("vesk-test-planted"), 0u) << c.what;
    EXPECT_EQ(table.LockPath("vesk-test-planted"), "") << c.what;
  }
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere)) << "nothing was created through the link";
}

TEST_F(LockFolders, ALockFileHeldAtAPredictableSharedNameStallsNothing) {
  // Someone holds a lock file where a shared folder's predictable name
  // would put it; lookups must not wait for them.
  const std::string name = "vesk-test-squatted-" + std::to_string(getpid());
  const std::string squatted = "/tmp/vesk-" + std::to_string(geteuid()) + "-" + name + ".lock";
  const int fd = open(squatted.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    pause();  // holds the inherited lock until killed
    _exit(0);
  }
  close(fd);  // the holder's copy keeps the lock
  NamedMutexTable table;
  const MutexHandle h = table.Create(name);
  const std::uint32_t wait = h != 0 ? table.Wait(h, 100) : WAIT_OBJECT_0;
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  unlink(squatted.c_str());
  EXPECT_EQ(wait, WAIT_OBJECT_0);
  if (h != 0) {
    EXPECT_NE(table.LockPath(name), squatted);
    unlink(table.LockPath(name).c_str());
  }
}

TEST(LockFolderNotice, ItIsSaidOnceOnStandardError) {
  // A base folder that cannot hold ours: a file.
  char pattern[] = "/tmp/vesk-lock-notice-XXXXXX";
  const int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::optional<std::string> oldRuntime =
      runtime != nullptr ? std::optional<std::string>(runtime) : std::nullopt;
  unsetenv("XDG_RUNTIME_DIR");
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    NamedMutexTable table(pattern);
    EXPECT_EQ(table.Create("vesk-test-notice"), 0u);
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  if (oldRuntime) setenv("XDG_RUNTIME_DIR", oldRuntime->c_str(), 1);
  unlink(pattern);
  // Earlier tests of this process may have said it already; never twice.
  EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << said;
  if (!said.empty()) {
    EXPECT_EQ(said.rfind("vesk: running without the shared lock: ", 0), 0u) << said;
  }
}

}  // namespace
}  // namespace vesk::posix
