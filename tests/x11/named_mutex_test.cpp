// The named mutex shared between instances: exclusion, bounded waits,
// recursion, and a holder that dies.
#include "platform/x11/named_mutex.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace vesk::x11 {
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
  unlink(NamedMutexTable::LockPath(name).c_str());
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
  unlink(NamedMutexTable::LockPath(name).c_str());
}

TEST(NamedMutex, BadHandlesFail) {
  NamedMutexTable table;
  EXPECT_EQ(table.Wait(0, 10), WAIT_FAILED);
  EXPECT_EQ(table.Wait(77, 10), WAIT_FAILED);
  EXPECT_FALSE(table.Release(77));
  table.Close(77);  // nothing to close: no effect
  EXPECT_NE(NamedMutexTable::LockPath("a/b c").find("a_b_c"), std::string::npos);
}

}  // namespace
}  // namespace vesk::x11
