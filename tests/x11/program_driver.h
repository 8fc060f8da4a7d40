// Driving the real program from outside, as a user does: its windows found
// by title, its buttons clicked where they are on screen, Return pressed
// once a dialog has the keyboard.
#pragma once

#include <chrono>
#include <string>
#include <utility>

#include "resources/dialog_templates.h"
#include "x_session.h"

namespace vesk::testing {

// A mapped window titled `title`, or 0. Where a window manager puts frames
// around top-level windows (a compositor's, on Xwayland), it looks inside.
inline Window FindTitled(Display* dpy, const std::string& title, Window under = 0, int depth = 0) {
  if (under == 0) under = DefaultRootWindow(dpy);
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned n = 0;
  Window found = 0;
  if (XQueryTree(dpy, under, &root, &parent, &children, &n) == 0) return 0;
  for (unsigned i = 0; i < n && found == 0; ++i) {
    XWindowAttributes a{};
    if (XGetWindowAttributes(dpy, children[i], &a) == 0 || a.map_state != IsViewable) continue;
    char* name = nullptr;
    if (XFetchName(dpy, children[i], &name) != 0 && name != nullptr) {
      if (title == name) found = children[i];
      XFree(name);
    }
    if (found == 0 && depth < 2) found = FindTitled(dpy, title, children[i], depth + 1);
  }
  if (children != nullptr) XFree(children);
  return found;
}

// The program's windows come and go while a driver looks at them: a request
// about one that is gone is no reason to stop (Xlib's default).
inline int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

// The centre of a control of the main window, from the window's geometry
// and the control's rectangle in the template's dialog units.
inline std::pair<int, int> ControlCentre(Display* dpy, Window main, int id) {
  XWindowAttributes a{};
  XGetWindowAttributes(dpy, main, &a);
  const DialogTemplate& t = *FindDialogTemplate(kMainDialogTemplate);
  const ControlTemplate& c = *FindControl(t, id);
  return {a.x + (2 * c.x + c.cx) * a.width / (2 * t.cx),
          a.y + (2 * c.y + c.cy) * a.height / (2 * t.cy)};
}

// Whether the window got the keyboard within the limit.
inline bool HasFocusSoon(FakeInput& user, Window w, std::chrono::milliseconds limit) {
  return WaitFor(
      [&] {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(user.dpy(), &focus, &revert);
        return focus == w;
      },
      [] {}, limit);
}

// Return, once the window has the keyboard (the program gives it to each
// dialog it opens). False when it never got it.
inline bool PressReturnIn(FakeInput& user, Window w) {
  XWindowAttributes a{};
  XGetWindowAttributes(user.dpy(), w, &a);
  user.Move(a.x + a.width / 2, a.y + 5);
  const bool focused = HasFocusSoon(user, w, std::chrono::milliseconds(3000));
  user.Key(kKeyReturn, true);
  user.Key(kKeyReturn, false);
  return focused;
}

}  // namespace vesk::testing
