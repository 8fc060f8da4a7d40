// The X root's size on a kept connection to the session's X server.
#include "platform/wayland/x_root.h"

#include <X11/Xlib.h>

#include <memory>

#include "platform/x11/x11_errors.h"

namespace vesk::wayland {
namespace {

// The X root's size, asked for every position on one kept connection: the
// desktop resizes Xwayland's root when a monitor is rescaled or its X
// scaling is turned on or off, and the last of these swaps no device.
class XRootQuery {
 public:
  XRootQuery() = default;
  XRootQuery(const XRootQuery&) = delete;
  XRootQuery& operator=(const XRootQuery&) = delete;
  ~XRootQuery() { Close(); }

  bool operator()(std::int32_t* width, std::int32_t* height) {
    if (dead_) Close();
    if (dpy_ == nullptr) {
      dpy_ = XOpenDisplay(nullptr);
      if (dpy_ == nullptr) return false;
      x11::AdoptConnection(dpy_, &dead_);
    }
    ::Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (XGetGeometry(dpy_, DefaultRootWindow(dpy_), &root, &x, &y, &w, &h, &border, &depth) == 0 ||
        dead_) {
      return false;
    }
    *width = static_cast<std::int32_t>(w);
    *height = static_cast<std::int32_t>(h);
    return true;
  }

 private:
  void Close() {
    if (dpy_ == nullptr) return;
    x11::ForgetConnection(dpy_);
    // A lost connection is left behind: closing it would write to it.
    if (!dead_) XCloseDisplay(dpy_);
    dpy_ = nullptr;
    dead_ = false;
  }

  Display* dpy_ = nullptr;
  bool dead_ = false;
};

}  // namespace

std::function<bool(std::int32_t*, std::int32_t*)> KeptXRootQuery() {
  auto query = std::make_shared<XRootQuery>();
  return [query](std::int32_t* w, std::int32_t* h) { return (*query)(w, h); };
}

}  // namespace vesk::wayland
