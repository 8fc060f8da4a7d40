// The performance counter as the program's clocks: microseconds for
// pacing, and milliseconds on the base of the system tick for time stamps
// (the tick itself advances in steps of about 15.6 ms).
#pragma once

#include <cstdint>

namespace vesk::win32 {

std::int64_t NowUs();
// Milliseconds, wrapping like GetTickCount and on its base, but fine.
std::uint32_t TickMs();

}  // namespace vesk::win32
