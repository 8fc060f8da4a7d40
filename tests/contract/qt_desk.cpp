// The contract on the Linux backend with X11 input.
#include "contract/qt_desk.h"

namespace vesk::testing {

std::unique_ptr<Desk> MakeDesk() { return std::make_unique<QtDesk>(); }

}  // namespace vesk::testing
