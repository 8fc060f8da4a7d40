// vesk.exe's recovery journal under Wine: in %LOCALAPPDATA%\Vesk while it
// records (a folder name that is not ASCII included), and reported by the
// next start after the program was killed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/recorder_app.h"
#include "platform/win32/win32_backend.h"
#include "program_thread.h"
#include "resources/dialog_templates.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;

struct Process {
  PROCESS_INFORMATION info{};
  HWND main = nullptr;
  ~Process() {
    if (info.hProcess == nullptr) return;
    ::TerminateProcess(info.hProcess, 1);
    ::WaitForSingleObject(info.hProcess, 10000);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
  }
};

std::string Title(HWND w) {
  char buffer[256] = {};
  ::GetWindowTextA(w, buffer, sizeof(buffer));
  return buffer;
}

// Starts vesk.exe in dir and finds its main window.
bool Start(Process& p, const fs::path& dir) {
  std::string exe = VESK_EXE;
  std::replace(exe.begin(), exe.end(), '/', '\\');
  std::string line = "\"Z:" + exe + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.string().c_str(), &si, &p.info)) {
    p.info.hProcess = nullptr;
    return false;
  }
  return PumpUntil(
      [&] {
        struct Find {
          DWORD pid;
          HWND found;
        } find{p.info.dwProcessId, nullptr};
        ::EnumWindows(
            [](HWND w, LPARAM param) -> BOOL {
              auto* f = reinterpret_cast<Find*>(param);
              DWORD pid = 0;
              ::GetWindowThreadProcessId(w, &pid);
              if (pid != f->pid || !::IsWindowVisible(w) || ::GetDlgItem(w, IDC_LOG) == nullptr) {
                return TRUE;
              }
              f->found = w;
              return FALSE;
            },
            reinterpret_cast<LPARAM>(&find));
        p.main = find.found;
        return p.main != nullptr;
      },
      15000);
}

std::vector<fs::path> Named(const fs::path& folder, const std::wstring& prefix) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (it->path().filename().wstring().starts_with(prefix)) found.push_back(it->path());
  }
  return found;
}

TEST(RecoveryJournalProgram, AKilledRecordingStaysInLocalAppDataAndTheNextStartReportsIt) {
  TempDir dir;
  const fs::path local = dir.path() / L"Lokale Daten \u00e9t\u00e9 \u65e5\u672c";
  fs::create_directories(local);
  wchar_t old[32768] = {};
  const DWORD oldLength = ::GetEnvironmentVariableW(L"LOCALAPPDATA", old, 32768);
  ASSERT_TRUE(::SetEnvironmentVariableW(L"LOCALAPPDATA", local.wstring().c_str()));
  struct Restore {
    const wchar_t* value;
    ~Restore() { ::SetEnvironmentVariableW(L"LOCALAPPDATA", value); }
  } restore{oldLength > 0 ? old : nullptr};
  const fs::path state = local / L"Vesk";

  {
    Process first;
    ASSERT_TRUE(Start(first, dir.path()));
    ::PostMessageA(first.main, WM_COMMAND, MakeCommandWParam(IDC_RECORD, BN_CLICKED), 0);
    ASSERT_TRUE(PumpUntil(
        [&] { return Title(first.main) == "RECORDING - (Vesk), <Ctrl+Break> to PAUSE"; }, 10000));
    ASSERT_TRUE(PumpUntil([&] { return !Named(state, L"recording-").empty(); }, 10000));
    const std::wstring name = Named(state, L"recording-")[0].filename().wstring();
    EXPECT_TRUE(name.starts_with(L"recording-" + std::to_wstring(first.info.dwProcessId) + L"-"))
        << Named(state, L"recording-")[0];
    // Killed: no Stop, no Exit.
  }
  ASSERT_EQ(Named(state, L"recording-").size(), 1u);

  // The next start, in this process so that its log can be read.
  std::atomic<DWORD> thread{0};
  std::atomic<bool> done{false};
  std::thread program([&] {
    win32::Win32Backend backend;
    thread = ::GetCurrentThreadId();
    InstallBackend(&backend);
    RunProgram();
    InstallBackend(nullptr);
    done = true;
  });
  HWND main = nullptr;
  PumpUntil(
      [&] {
        ::EnumThreadWindows(
            thread,
            [](HWND w, LPARAM found) -> BOOL {
              if (!::IsWindowVisible(w) || ::GetDlgItem(w, IDC_LOG) == nullptr) return TRUE;
              *reinterpret_cast<HWND*>(found) = w;
              return FALSE;
            },
            reinterpret_cast<LPARAM>(&main));
        return main != nullptr;
      },
      15000);
  std::vector<std::string> log;
  const auto reported = [&] {
    log = main != nullptr ? LogOf(main) : std::vector<std::string>{};
    return std::any_of(log.begin(), log.end(), [](const std::string& l) {
      return l.starts_with("Recovered an unsaved recording of 0 events, recorded ") &&
             l.find("\\Vesk\\VeskRecovered-") != std::string::npos && l.ends_with(".alg");
    });
  };
  EXPECT_TRUE(PumpUntil(reported, 10000)) << ::testing::PrintToString(log);
  EXPECT_TRUE(Named(state, L"recording-").empty());
  EXPECT_EQ(Named(state, L"VeskRecovered-").size(), 1u);
  if (main != nullptr) {
    ::PostMessageA(main, WM_COMMAND, MakeCommandWParam(IDC_EXIT, BN_CLICKED), 0);
  }
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
  program.join();
}

}  // namespace
}  // namespace vesk::testing
