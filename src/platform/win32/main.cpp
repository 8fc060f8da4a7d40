// vesk.exe: the recorder on the Win32 backend.
#include "app/recorder_app.h"
#include "platform/win32/win32_backend.h"

int main() {
  vesk::win32::Win32Backend backend;
  vesk::InstallBackend(&backend);
  const int code = vesk::RunProgram();
  vesk::InstallBackend(nullptr);
  return code;
}
