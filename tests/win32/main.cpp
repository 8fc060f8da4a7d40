// The test program; started with --hold-mutex it is instead the second
// process of the named-mutex tests.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/hook_engine.h"
#include "platform/win32/win32_backend.h"

namespace {

// --hold-mutex NAME READY RELEASE: takes the mutex, signals READY, then
// releases it when RELEASE is signalled; with RELEASE "-" it exits
// still holding it.
int HoldMutex(const char* name, const char* ready, const char* release) {
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr || ::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 2;
  HANDLE readyEvent = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, ready);
  if (readyEvent == nullptr) return 3;
  if (std::string(release) == "-") {
    ::SetEvent(readyEvent);
    return 0;
  }
  HANDLE releaseEvent = ::OpenEventA(SYNCHRONIZE, FALSE, release);
  ::SetEvent(readyEvent);
  if (releaseEvent == nullptr || ::WaitForSingleObject(releaseEvent, 20000) != WAIT_OBJECT_0) {
    return 4;
  }
  return ::ReleaseMutex(mutex) ? 0 : 5;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--hold-mutex") {
    return HoldMutex(argv[2], argv[3], argv[4]);
  }
  // Objects the program leaves for static destruction still call the
  // backend; this one outlives them.
  static vesk::win32::Win32Backend atExit(vesk::win32::JournalMode::LowLevel);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  vesk::InstallBackend(&atExit);
  return result;
}
