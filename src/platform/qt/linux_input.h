// The input path the Linux program runs its windows with, chosen once at
// start-up from the session it finds.
#pragma once

#include <memory>

#include "platform/input_path.h"

namespace vesk::x11 {
class X11Input;
}  // namespace vesk::x11

namespace vesk::qt {

struct LinuxInput {
  std::unique_ptr<InputPath> path;
  // The X server's input under it (capture and the key grab on either path).
  x11::X11Input* server = nullptr;
};

// A Wayland session gets the Wayland path (its start-up notes say which
// replay it found and why); anything else the X server's own input.
LinuxInput ChooseLinuxInput();

}  // namespace vesk::qt
