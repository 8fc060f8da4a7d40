// The test program; started with --hold-mutex it is instead the second
// process of the named-mutex tests.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/hook_bridge.h"
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

// --dpi=N ARGS...: runs this program again with ARGS while the prefix's
// LogPixels is N (Wine reads it when a process starts), then puts the old
// value back. The child learns N from VESK_EXPECT_DPI.
int RunAtDpi(DWORD dpi, int argc, char** argv) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 10;
  }
  DWORD old = 0;
  DWORD size = sizeof(old);
  const bool hadOld = ::RegQueryValueExA(key, "LogPixels", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&old), &size) == ERROR_SUCCESS;
  ::RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof(dpi));
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = std::string("\"") + self + "\"";
  for (int i = 2; i < argc; ++i) line += std::string(" \"") + argv[i] + "\"";
  ::SetEnvironmentVariableA("VESK_EXPECT_DPI", std::to_string(dpi).c_str());
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  DWORD code = 11;
  if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
  }
  if (hadOld) {
    ::RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old),
                     sizeof(old));
  } else {
    ::RegDeleteValueA(key, "LogPixels");
  }
  ::RegCloseKey(key);
  return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--hold-mutex") {
    return HoldMutex(argv[2], argv[3], argv[4]);
  }
  if (argc >= 2 && std::string(argv[1]).rfind("--dpi=", 0) == 0) {
    return RunAtDpi(static_cast<DWORD>(std::stoul(std::string(argv[1]).substr(6))), argc, argv);
  }
  // Objects the program leaves for static destruction still call the
  // backend; this one outlives them.
  static vesk::win32::Win32Backend atExit(vesk::win32::JournalMode::LowLevel);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  vesk::InstallBackend(&atExit);
  return result;
}
