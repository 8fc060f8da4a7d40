// vesk.exe, and its console twin vesk.com: the recorder on the Win32
// backend. The command line is read first; the twin is the same program
// built for the console, so that a command prompt waits for it, shows its
// output and sees its exit status.
#include <iostream>

#include "app/command_line.h"
#include "app/recorder_app.h"
#include "platform/win32/win32_backend.h"
#include "platform/win32/windows_api.h"

namespace {

// Ctrl+C, Ctrl+Break or the console closing: runs on a thread of its own,
// so it only notes the signal and posts the main window its close (posting
// is safe from any thread); the window releases held input on its way out.
BOOL WINAPI OnConsoleSignal(DWORD) {
  vesk::NoteSignal();
  if (const vesk::WindowId main = vesk::RunningMainWindow(); main != 0) {
    ::PostMessageA(reinterpret_cast<HWND>(main), WM_CLOSE, 0, 0);
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  const vesk::Invocation invocation = vesk::HandleCommandLine(argc, argv, std::cout, std::cerr);
  if (!invocation.startProgram) return invocation.exitStatus;
  if (invocation.play) ::SetConsoleCtrlHandler(&OnConsoleSignal, TRUE);
  vesk::win32::Win32Backend backend;
  return vesk::RunProgramOn(backend, invocation, std::cerr);
}
