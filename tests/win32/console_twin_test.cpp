// The console twin vesk.com, as a command prompt runs it: it waits for the
// run, its output reaches the console and its exit status is the program's.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/command_line.h"
#include "storage/journal.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

std::string Windows(std::string unixPath) {
  std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
  return unixPath.insert(0, "Z:");
}

struct Ran {
  DWORD code = 99;
  std::string output;  // standard output and error, as a console shows them
};

// Runs the program with the arguments in dir, output through a pipe; the
// run is ended after limitMs.
Ran RunProgramWith(const char* program, const std::string& arguments, const TempDir& dir,
                   DWORD limitMs) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  Ran ran;
  if (!::CreatePipe(&read, &write, &sa, 0)) return ran;
  ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = write;
  si.hStdError = write;
  PROCESS_INFORMATION pi{};
  std::string line(1, '"');
  line.append(Windows(program)).append("\" ").append(arguments);
  const std::string cwd = dir.path().string();
  const BOOL started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        cwd.c_str(), &si, &pi);
  ::CloseHandle(write);
  if (!started) {
    ::CloseHandle(read);
    return ran;
  }
  const ULONGLONG deadline = ::GetTickCount64() + limitMs;
  char buf[4096];
  for (;;) {
    DWORD avail = 0, got = 0;
    while (::PeekNamedPipe(read, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
           ::ReadFile(read, buf, std::min<DWORD>(avail, sizeof buf), &got, nullptr) && got > 0) {
      ran.output.append(buf, got);
    }
    if (::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
    if (::GetTickCount64() > deadline) {
      ::TerminateProcess(pi.hProcess, 98);
      break;
    }
    PumpUntil([] { return false; }, 20);
  }
  DWORD got = 0;
  while (::ReadFile(read, buf, sizeof buf, &got, nullptr) && got > 0) ran.output.append(buf, got);
  ::GetExitCodeProcess(pi.hProcess, &ran.code);
  ::CloseHandle(read);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  return ran;
}

void WriteMoves(const TempDir& dir) {
  Journal j;
  j.Append({1, {WM_MOUSEMOVE, 300, 310, 0, 0}});
  j.Append({1, {WM_MOUSEMOVE, 420, 330, 200, 0}});
  j.Append({1, {WM_MOUSEMOVE, 500, 500, 40, 0}});  // handed over, never processed
  WriteFile(dir.File("moves.alg"), EncodeJournal(j));
}

TEST(ConsoleTwin, WindowlessCommandsPrintAndReturnTheirStatus) {
  TempDir dir;
  WriteMoves(dir);
  const Ran check = RunProgramWith(VESK_COM, "check moves.alg", dir, 20000);
  EXPECT_EQ(check.code, 0u) << check.output;
  EXPECT_NE(check.output.find("moves.alg: 3 events, 3 to play"), std::string::npos) << check.output;
  const Ran bad = RunProgramWith(VESK_COM, "play", dir, 20000);
  EXPECT_EQ(bad.code, static_cast<DWORD>(kExitBadArguments));
  EXPECT_NE(bad.output.find("Usage: vesk"), std::string::npos) << bad.output;
  const Ran missing = RunProgramWith(VESK_COM, "play missing.alg", dir, 20000);
  EXPECT_EQ(missing.code, static_cast<DWORD>(kExitNothingToPlay)) << missing.output;
  const Ran help = RunProgramWith(VESK_COM, "--help", dir, 20000);
  EXPECT_NE(help.output.find("130  ended by SIGINT or SIGTERM"), std::string::npos) << help.output;
}

TEST(ConsoleTwin, PlayWaitsForTheRunAndReturnsItsStatus) {
  TempDir dir;
  WriteMoves(dir);
  ::SetCursorPos(100, 100);
  const Ran ran = RunProgramWith(VESK_COM, "play moves.alg --countdown 0 --speed 50", dir, 30000);
  EXPECT_EQ(ran.code, 0u) << ran.output;
  EXPECT_NE(ran.output.find("vesk: played 1 passes"), std::string::npos) << ran.output;
  POINT cursor{};
  ::GetCursorPos(&cursor);
  EXPECT_EQ(cursor.x, 420);
  EXPECT_EQ(cursor.y, 330);
  EXPECT_FALSE(std::filesystem::exists(dir.File("VeskSettings.auc")));
  // The windowed vesk.exe returns the same status to whoever waits for it.
  EXPECT_EQ(RunProgramWith(VESK_EXE, "play moves.alg --countdown 0", dir, 30000).code, 0u);
}

}  // namespace
}  // namespace vesk::testing
