// vesk.exe: the recorder on the Win32 backend.
#include "app/recorder_app.h"
#include "platform/win32/win32_backend.h"

int main() {
  // Static and made before the program runs, so that it outlives every
  // object the program leaves for static destruction (they may still ask
  // the backend to remove hooks).
  static vesk::win32::Win32Backend backend;
  vesk::InstallBackend(&backend);
  return vesk::RunProgram();
}
