// Whether the program has a display to open its windows on, asked before
// the windowing library starts (it aborts the process when there is none).
#pragma once

#include <string>

namespace vesk::qt {

// Empty when a display answers; otherwise why there is none.
std::string ProbeDisplay();

}  // namespace vesk::qt
