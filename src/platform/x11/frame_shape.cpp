// The frame's input shape emptied and given back, on a connection of our own
// so that an error (a frame gone meanwhile) is only noted. A window shown
// just before is often not framed yet: its reparenting is watched for.
#include "platform/x11/frame_shape.h"

#include <QSocketNotifier>

#include <map>
#include <set>
#include <vector>

#include "platform/x11/x11_errors.h"

// Last: its macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

namespace vesk::x11 {
namespace {

struct Saved {
  Window frame = 0;
  std::vector<XRectangle> input;
  bool whole = false;  // the frame had no input shape of its own
};

struct Frames {
  Display* dpy = nullptr;
  bool dead = false;
  int shapeEvent = 0;  // the extension's first event code
  QSocketNotifier* notifier = nullptr;
  std::set<Window> wanted;  // windows letting clicks through
  std::map<Window, Saved> saved;
};

void OnEvents(Frames& f);

Frames& State() {
  static Frames f;
  static const bool opened = [] {
    f.dpy = XOpenDisplay(nullptr);
    int error = 0;
    if (f.dpy != nullptr && XShapeQueryExtension(f.dpy, &f.shapeEvent, &error) == 0) {
      XCloseDisplay(f.dpy);
      f.dpy = nullptr;
    }
    if (f.dpy == nullptr) return false;
    AdoptConnection(f.dpy, &f.dead);
    f.notifier = new QSocketNotifier(ConnectionNumber(f.dpy), QSocketNotifier::Read);
    QObject::connect(f.notifier, &QSocketNotifier::activated, [] { OnEvents(State()); });
    return true;
  }();
  static_cast<void>(opened);
  return f;
}

// The ancestor just below the root: the frame, or the window itself.
Window TopLevel(Display* dpy, Window window) {
  Window top = window;
  for (Window w = window;;) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (XQueryTree(dpy, w, &root, &parent, &children, &n) == 0) return 0;
    if (children != nullptr) XFree(children);
    if (parent == 0 || parent == root) return top;
    top = w = parent;
  }
}

// The frame's input shape as it is, to give back later.
Saved Read(Display* dpy, Window frame) {
  Saved s{frame, {}, false};
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(dpy, frame, ShapeInput, &count, &ordering);
  if (rects != nullptr) {
    s.input.assign(rects, rects + count);
    XFree(rects);
  }
  XWindowAttributes a{};
  if (XGetWindowAttributes(dpy, frame, &a) != 0 && s.input.size() == 1) {
    const XRectangle& r = s.input.front();
    s.whole = r.x == -a.border_width && r.y == -a.border_width &&
              r.width == a.width + 2 * a.border_width && r.height == a.height + 2 * a.border_width;
  }
  return s;
}

void Clear(Display* dpy, Window frame, Window window) {
  XShapeCombineRectangles(dpy, frame, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
  // The window's own (empty) shape once more: a compositor reads the frame's
  // when the window's changes.
  XShapeCombineRectangles(dpy, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
}

void Empty(Frames& f, Window window) {
  const Window frame = TopLevel(f.dpy, window);
  if (frame == 0 || frame == window || f.saved.count(window) != 0) return;
  // The frame's owner may shape it later (a frame is often drawn after the
  // reparenting): that shape is kept for later and the frame emptied again.
  XShapeSelectInput(f.dpy, frame, ShapeNotifyMask);
  f.saved[window] = Read(f.dpy, frame);
  Clear(f.dpy, frame, window);
}

void Restore(Frames& f, Window window) {
  const auto it = f.saved.find(window);
  if (it == f.saved.end()) return;
  // A frame made anew meanwhile has its own shape already.
  if (it->second.frame == TopLevel(f.dpy, window)) {
    if (it->second.whole) {
      XShapeCombineMask(f.dpy, it->second.frame, ShapeInput, 0, 0, None, ShapeSet);
    } else {
      XShapeCombineRectangles(f.dpy, it->second.frame, ShapeInput, 0, 0, it->second.input.data(),
                              static_cast<int>(it->second.input.size()), ShapeSet, Unsorted);
    }
  }
  f.saved.erase(it);
}

void OnEvents(Frames& f) {
  if (f.dead) return;
  while (XPending(f.dpy) > 0) {
    XEvent e{};
    XNextEvent(f.dpy, &e);
    if (e.type == ReparentNotify && f.wanted.count(e.xreparent.window) != 0) {
      f.saved.erase(e.xreparent.window);  // that frame is gone
      Empty(f, e.xreparent.window);
    } else if (e.type == f.shapeEvent + ShapeNotify) {
      const auto& shape = reinterpret_cast<const XShapeEvent&>(e);
      if (shape.kind != ShapeInput || (shape.width == 0 && shape.height == 0)) continue;
      for (auto& [window, saved] : f.saved) {
        if (saved.frame != shape.window || f.wanted.count(window) == 0) continue;
        saved = Read(f.dpy, shape.window);
        Clear(f.dpy, shape.window, window);
      }
    }
  }
  XFlush(f.dpy);
}

}  // namespace

void SetFrameClickThrough(unsigned long window, bool through) {
  Frames& f = State();
  if (f.dpy == nullptr || f.dead || window == 0) return;
  if (through) {
    f.wanted.insert(window);
    XSelectInput(f.dpy, window, StructureNotifyMask);
    Empty(f, window);
  } else {
    f.wanted.erase(window);
    XSelectInput(f.dpy, window, NoEventMask);
    Restore(f, window);
  }
  // Done before the window's own shape changes after this returns.
  XSync(f.dpy, False);
}

}  // namespace vesk::x11
