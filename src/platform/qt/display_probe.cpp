// The display probe (see display_probe.h). Xlib is kept out of the files
// that include Qt: its macros break Qt's headers.
#include "platform/qt/display_probe.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace vesk::qt {

std::string ProbeDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') return {};
    return "no display: DISPLAY is not set";
  }
  Display* dpy = XOpenDisplay(name);
  if (dpy == nullptr) return std::string("no display: cannot open ") + name;
  XCloseDisplay(dpy);
  return {};
}

}  // namespace vesk::qt
