// The performance counter as the program's clocks.
#include "platform/win32/clock.h"

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

std::int64_t NowUs() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  ::QueryPerformanceCounter(&c);
  const std::int64_t t = c.QuadPart;
  return t / frequency * 1'000'000 + t % frequency * 1'000'000 / frequency;
}

std::uint32_t TickMs() {
  // Fixed once: time stamps from the system (journal hooks) and ours then
  // differ by less than one tick.
  static const std::int64_t offsetMs =
      static_cast<std::int64_t>(::GetTickCount64()) - NowUs() / 1000;
  return static_cast<std::uint32_t>(NowUs() / 1000 + offsetMs);
}

}  // namespace vesk::win32
