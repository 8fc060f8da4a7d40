// vesk.exe started as a scheduler starts it: the default journal played
// after ten seconds, a paused run, a cancelled run and its exit status.
#include "program_thread.h"

namespace vesk::testing {
namespace {

std::string WindowsPath(std::string unixPath) {
  std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
  return "Z:" + unixPath;
}

void PutLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Writes the journal and a settings file that plays it at start-up, at
// recorded speed, once.
std::string PrepareScheduledRun(const TempDir& dir, const std::vector<EVENTMSG>& events) {
  std::string journal;
  for (const EVENTMSG& e : events) {
    PutLe32(journal, 1);
    for (std::uint32_t v : {e.message, e.paramL, e.paramH, e.time, e.hwnd}) PutLe32(journal, v);
  }
  const std::string journalPath = dir.File("scheduled.alg");
  WriteFile(journalPath, journal);
  // Repeat count 1, play at start-up, recorded speed, then the path.
  std::vector<char> record = {1, 0, 0, 0, 1, 1, static_cast<char>(journalPath.size())};
  record.insert(record.end(), journalPath.begin(), journalPath.end());
  std::string settings(record.begin(), record.end());
  WriteFile(dir.File("VeskSettings.auc"), settings);
  return settings;
}

PROCESS_INFORMATION StartVesk(const TempDir& dir) {
  std::string line(1, '"');
  line.append(WindowsPath(VESK_EXE)).push_back('"');
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const std::string cwd = dir.path().string();
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si,
                        &pi)) {
    pi.hProcess = nullptr;
  }
  return pi;
}

bool Exited(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

bool ShiftDown() { return (::GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0; }

TEST(ScheduledRun, CtrlBreakPausesThePlaybackReleasesWhatItHoldsAndTheProgramStaysOpen) {
  TempDir dir;
  // Shift goes down first and stays down for the whole journal.
  std::vector<EVENTMSG> events = {{WM_KEYDOWN, 0x2A10, 1, 0, 0}};
  for (std::uint32_t i = 0; i < 150; ++i) {
    events.push_back({WM_MOUSEMOVE, 200 + 3 * i, 700 - 2 * (i % 20), 40, 0});
  }
  PrepareScheduledRun(dir, events);
  ProgramThread program;
  ASSERT_NE(program.WaitMain(), nullptr);
  ASSERT_TRUE(
      PumpUntil([&] { return program.Title() == "PLAYING-(Vesk), <Ctrl+Break> to PAUSE"; }, 30000))
      << program.Title();
  ASSERT_TRUE(PumpUntil(ShiftDown, 5000)) << "the journal's Shift was not pressed";
  // Pressed until it lands: a second Ctrl+Break while paused only logs again.
  for (int attempt = 0; attempt < 10 && program.Title() != "PAUSED PLAYBACK - (Vesk)"; ++attempt) {
    ASSERT_TRUE(Xdotool("key ctrl+Pause"));
    program.WaitTitleFor("PAUSED PLAYBACK - (Vesk)", 1000);
  }
  ASSERT_EQ(program.Title(), "PAUSED PLAYBACK - (Vesk)");
  POINT paused{};
  ::GetCursorPos(&paused);
  // Nothing more is played: the pointer stays where the pause caught it.
  EXPECT_FALSE(PumpUntil(
      [&] {
        POINT now{};
        ::GetCursorPos(&now);
        return now.x != paused.x || now.y != paused.y;
      },
      400));
  const std::vector<std::string> log = program.Log();
  EXPECT_GE(std::count(log.begin(), log.end(), "PAUSED BY USER"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "PAUSED BY SYSTEM"), 0);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Playback cycle ended."), 0);
  // Sent at once through the backend: Shift is up again.
  EXPECT_EQ(std::count(log.begin(), log.end(), "Released 1 held key or button."), 1)
      << ::testing::PrintToString(log);
  EXPECT_FALSE(ShiftDown());
  EXPECT_FALSE(program.Done());
  // Continue Playback presses it again before playing on,
  program.Command(IDC_PLAY);
  EXPECT_TRUE(PumpUntil(ShiftDown, 5000)) << "Shift was not pressed again";
  const std::vector<std::string> resumed = program.Log();
  EXPECT_EQ(std::count(resumed.begin(), resumed.end(), "Restored 1 held key or button."), 1)
      << ::testing::PrintToString(resumed);
  // and the window closed in the middle of the run lets go of it.
  program.Command(IDC_EXIT);
  EXPECT_TRUE(PumpUntil([&] { return program.Done(); }, 10000));
  EXPECT_FALSE(ShiftDown());
  if (ShiftDown()) {  // never leave it down for the tests that follow
    INPUT up{};
    up.type = INPUT_KEYBOARD;
    up.ki.wVk = VK_SHIFT;
    up.ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(1, &up, sizeof(up));
  }
}

TEST(ScheduledRun, PlaysTheDefaultJournalAfterTenSecondsAndClosesItself) {
  TempDir dir;
  const std::string settings =
      PrepareScheduledRun(dir, {
                                   {WM_MOUSEMOVE, 760, 580, 0, 0},
                                   {WM_LBUTTONDOWN, 760, 580, 100, 0},
                                   {WM_LBUTTONUP, 760, 580, 60, 0},
                                   {WM_KEYDOWN, 0x2348, 1, 150, 0},
                                   {WM_KEYUP, 0x2348, 1, 40, 0},
                                   {WM_KEYDOWN, 0x1749, 1, 60, 0},
                                   {WM_KEYUP, 0x1749, 1, 40, 0},
                                   {WM_MOUSEMOVE, 900, 640, 60, 0},
                                   // The engine hands the last entry over but the cycle ends
                                   // before it is processed: this 'x' must not arrive.
                                   {WM_KEYDOWN, 0x2D58, 1, 40, 0},
                               });
  TargetEdit target(700, 500, 400, 200);
  ::SetCursorPos(650, 450);
  const ULONGLONG start = ::GetTickCount64();
  PROCESS_INFORMATION pi = StartVesk(dir);
  ASSERT_NE(pi.hProcess, nullptr);
  const bool exited = PumpUntil([&] { return Exited(pi.hProcess); }, 50000);
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  if (!exited) ::TerminateProcess(pi.hProcess, 1);
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  ASSERT_TRUE(exited) << "vesk.exe did not close itself";
  EXPECT_EQ(code, 0u);
  EXPECT_GE(elapsed, 10000u);
  std::printf("scheduled run: vesk.exe exited after %llu ms\n",
              static_cast<unsigned long long>(elapsed));
  EXPECT_TRUE(PumpUntil([&] { return target.Text() == "hi"; }, 2000)) << target.Text();
  POINT cursor{};
  ::GetCursorPos(&cursor);
  EXPECT_EQ(cursor.x, 900);
  EXPECT_EQ(cursor.y, 640);
  EXPECT_EQ(ReadFile(dir.File("VeskSettings.auc")), settings);  // never written on the way out
}

// The main window of another process, found by its log list.
HWND MainWindowOf(DWORD processId) {
  struct Search {
    DWORD pid;
    HWND found;
  } search{processId, nullptr};
  ::EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        if (pid == s->pid && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, IDC_LOG) != nullptr) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string TitleOf(HWND hwnd) {
  char buffer[256] = {};
  ::GetWindowTextA(hwnd, buffer, sizeof(buffer));
  return buffer;
}

// A task scheduler reads the exit status: a run that did not finish is
// not a success, even though the window stays open until closed.
TEST(ScheduledRun, CancelledRunLeavesTheWindowOpenAndExitsWithFailure) {
  TempDir dir;
  std::vector<EVENTMSG> events;
  for (std::uint32_t i = 0; i < 200; ++i) events.push_back({WM_MOUSEMOVE, 300 + i, 400, 40, 0});
  PrepareScheduledRun(dir, events);
  PROCESS_INFORMATION pi = StartVesk(dir);
  ASSERT_NE(pi.hProcess, nullptr);
  HWND main = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        main = MainWindowOf(pi.dwProcessId);
        return main != nullptr && TitleOf(main) == "PLAYING-(Vesk), <Ctrl+Break> to PAUSE";
      },
      30000));
  // Ctrl+Esc: the system's cancellation, pressed until it lands.
  for (int attempt = 0; attempt < 10 && TitleOf(main) != "PAUSED PLAYBACK - (Vesk)"; ++attempt) {
    ASSERT_TRUE(Xdotool("key ctrl+Escape"));
    PumpUntil([&] { return TitleOf(main) == "PAUSED PLAYBACK - (Vesk)"; }, 1000);
  }
  EXPECT_EQ(TitleOf(main), "PAUSED PLAYBACK - (Vesk)");
  EXPECT_FALSE(PumpUntil([&] { return Exited(pi.hProcess); }, 500)) << "closed by itself";
  ::PostMessageA(main, WM_COMMAND, MakeCommandWParam(IDC_EXIT, BN_CLICKED), 0);
  const bool exited = PumpUntil([&] { return Exited(pi.hProcess); }, 10000);
  if (!exited) ::TerminateProcess(pi.hProcess, 99);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  ASSERT_TRUE(exited);
  EXPECT_NE(code, 0u);
  std::printf("cancelled scheduled run: exit status %lu\n", static_cast<unsigned long>(code));
}

}  // namespace
}  // namespace vesk::testing
