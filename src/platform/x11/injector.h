// The injector seam under its X11 name (see platform/input_path.h).
#pragma once

#include "platform/input_path.h"

namespace vesk::x11 {

using Injector = vesk::Injector;

}  // namespace vesk::x11
