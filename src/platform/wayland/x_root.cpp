// The X root's size on a kept connection to the session's X server.
#include "platform/wayland/x_root.h"

#include <X11/Xlib.h>

#include <memory>

#include "platform/x11/x11_errors.h"

namespace vesk::wayland {
namespace {

// The X root's size for every position, kept on one connection: the
// desktop resizes Xwayland's root when a monitor is rescaled or its X
// scaling is turned on or off, and the last of these swaps no device. The
// size is asked once; after that the root's own resize events keep it, read
// without a round trip to the server on the way of each move.
class XRootQuery {
 public:
  XRootQuery() = default;
  XRootQuery(const XRootQuery&) = delete;
  XRootQuery& operator=(const XRootQuery&) = delete;
  ~XRootQuery() { Close(); }

  bool operator()(std::int32_t* width, std::int32_t* height) {
    if (dead_) Close();
    if (dpy_ == nullptr && !Open()) return false;
    while (XPending(dpy_) > 0 && !dead_) {
      XEvent e{};
      XNextEvent(dpy_, &e);
      if (e.type == ConfigureNotify && e.xconfigure.window == DefaultRootWindow(dpy_)) {
        width_ = e.xconfigure.width;
        height_ = e.xconfigure.height;
      }
    }
    if (dead_) return false;
    *width = width_;
    *height = height_;
    return true;
  }

 private:
  bool Open() {
    dpy_ = XOpenDisplay(nullptr);
    if (dpy_ == nullptr) return false;
    x11::AdoptConnection(dpy_, &dead_);
    // Watched before the size is read, so that no resize falls between.
    XSelectInput(dpy_, DefaultRootWindow(dpy_), StructureNotifyMask);
    ::Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (XGetGeometry(dpy_, DefaultRootWindow(dpy_), &root, &x, &y, &w, &h, &border, &depth) == 0 ||
        dead_) {
      Close();
      return false;
    }
    width_ = static_cast<std::int32_t>(w);
    height_ = static_cast<std::int32_t>(h);
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
  std::int32_t width_ = 0, height_ = 0;
};

}  // namespace

std::function<bool(std::int32_t*, std::int32_t*)> KeptXRootQuery() {
  auto query = std::make_shared<XRootQuery>();
  return [query](std::int32_t* w, std::int32_t* h) { return (*query)(w, h); };
}

}  // namespace vesk::wayland
