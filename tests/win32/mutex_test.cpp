// The key-name lock is a named mutex shared by all running instances:
// here a second process holds it.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/hook_bridge.h"
#include "platform/win32/win32_backend.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

constexpr const char* kName = "getKeyCodeStringMutex";

class Holder {
 public:
  // Starts this test program again as the holder of the mutex.
  explicit Holder(bool releaseOnSignal) {
    const std::string tag = std::to_string(::GetCurrentProcessId());
    readyName_ = "vesk-test-ready-" + tag;
    releaseName_ = releaseOnSignal ? "vesk-test-release-" + tag : "-";
    ready_ = ::CreateEventA(nullptr, TRUE, FALSE, readyName_.c_str());
    if (releaseOnSignal) release_ = ::CreateEventA(nullptr, TRUE, FALSE, releaseName_.c_str());
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = std::string("\"") + self + "\" --hold-mutex " + kName + " " + readyName_ +
                       " " + releaseName_;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    started_ = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &si, &process_) != FALSE;
  }
  ~Holder() {
    if (release_ != nullptr) ::SetEvent(release_);
    if (started_) {
      ::WaitForSingleObject(process_.hProcess, 10000);
      ::CloseHandle(process_.hProcess);
      ::CloseHandle(process_.hThread);
    }
    ::CloseHandle(ready_);
    if (release_ != nullptr) ::CloseHandle(release_);
  }
  bool WaitReady() { return started_ && ::WaitForSingleObject(ready_, 20000) == WAIT_OBJECT_0; }
  void Release() { ::SetEvent(release_); }
  DWORD ExitCode() {
    if (::WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) return 999;
    DWORD code = 998;
    ::GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  std::string readyName_;
  std::string releaseName_;
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

TEST(NamedMutex, AnotherProcessHoldingTheLockMakesWaitsTimeOutUntilItReleases) {
  win32::Win32Backend backend(win32::JournalMode::LowLevel);
  Holder holder(true);
  ASSERT_TRUE(holder.WaitReady());
  const MutexHandle m = backend.CreateMutex(kName);
  ASSERT_NE(m, 0u);
  const ULONGLONG before = ::GetTickCount64();
  EXPECT_EQ(backend.WaitForSingleObject(m, 300), static_cast<std::uint32_t>(WAIT_TIMEOUT));
  EXPECT_GE(::GetTickCount64() - before, 250u);
  EXPECT_FALSE(backend.ReleaseMutex(m));  // not ours to release
  holder.Release();
  EXPECT_EQ(backend.WaitForSingleObject(m, 10000), static_cast<std::uint32_t>(WAIT_OBJECT_0));
  EXPECT_EQ(holder.ExitCode(), 0u);
  EXPECT_TRUE(backend.ReleaseMutex(m));
  EXPECT_FALSE(backend.ReleaseMutex(m));
  backend.CloseHandle(m);
}

TEST(NamedMutex, AHolderThatExitsWithoutReleasingLeavesItAbandonedButOwnable) {
  win32::Win32Backend backend(win32::JournalMode::LowLevel);
  // Opened first: a named mutex lives only while some process has it open.
  const MutexHandle m = backend.CreateMutex(kName);
  ASSERT_NE(m, 0u);
  Holder holder(false);
  ASSERT_TRUE(holder.WaitReady());
  EXPECT_EQ(holder.ExitCode(), 0u);
  EXPECT_EQ(backend.WaitForSingleObject(m, 5000), static_cast<std::uint32_t>(WAIT_ABANDONED));
  EXPECT_TRUE(backend.ReleaseMutex(m));
  backend.CloseHandle(m);
}

TEST(NamedMutex, NullHandlesFailWithoutEffect) {
  win32::Win32Backend backend(win32::JournalMode::LowLevel);
  EXPECT_EQ(backend.WaitForSingleObject(0, 10), static_cast<std::uint32_t>(WAIT_FAILED));
  EXPECT_FALSE(backend.ReleaseMutex(0));
  backend.CloseHandle(0);
  EXPECT_EQ(backend.CreateMutex(std::string(400, 'x')), 0u);  // longer than MAX_PATH
}

}  // namespace
}  // namespace vesk::testing
