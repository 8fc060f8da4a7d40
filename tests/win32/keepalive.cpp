// Keeps one hidden Wine window open for a whole test run: without it,
// Wine's desktop process starts and stops with every test program and
// holds the test runner's output pipe open for seconds after each one.
// Ends when the event "vesk-wine-keepalive-stop" is signalled, or after
// two hours at the latest.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND window = ::CreateWindowExA(0, "STATIC", "vesk keepalive", WS_POPUP, 0, 0, 1, 1, nullptr,
                                  nullptr, instance, nullptr);
  HANDLE stop = ::CreateEventA(nullptr, TRUE, FALSE, "vesk-wine-keepalive-stop");
  const ULONGLONG end = ::GetTickCount64() + 2ull * 60 * 60 * 1000;
  while (::GetTickCount64() < end) {
    if (::MsgWaitForMultipleObjects(1, &stop, FALSE, 1000, QS_ALLINPUT) == WAIT_OBJECT_0) break;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  }
  ::DestroyWindow(window);
  return 0;
}
