// The X server's input as an input path.
#include "platform/x11/x11_input_path.h"

#include <utility>

namespace vesk::x11 {

X11InputPath::X11InputPath() { input_.Connect(); }

void X11InputPath::SetCallbacks(Callbacks callbacks) {
  X11Input::Callbacks cb;
  cb.recorded = std::move(callbacks.recorded);
  cb.breakPressed = std::move(callbacks.breakPressed);
  cb.lost = [lost = std::move(callbacks.lost)](const std::string& why) {
    if (lost) lost("The journal hooks were cancelled: " + why + ".");
  };
  input_.SetCallbacks(std::move(cb));
}

}  // namespace vesk::x11
