// The Ctrl+Break key grab, in every modifier state.
#include "platform/x11/break_grab.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <iterator>

namespace vesk::x11 {

bool BreakGrab::Grab(Display* dpy, unsigned keycode, bool* refused) {
  keycode_ = keycode;
  masks_.clear();
  refusedCount_ = 0;
  static constexpr unsigned kOthers[] = {ShiftMask, LockMask, Mod1Mask, Mod2Mask,
                                         Mod3Mask,  Mod4Mask, Mod5Mask};
  constexpr unsigned kCombinations = 1u << std::size(kOthers);
  const Window root = DefaultRootWindow(dpy);
  bool controlAlone = false;
  for (unsigned bits = 0; bits < kCombinations; ++bits) {
    unsigned mask = ControlMask;
    for (unsigned i = 0; i < std::size(kOthers); ++i) {
      if ((bits & (1u << i)) != 0) mask |= kOthers[i];
    }
    *refused = false;
    XGrabKey(dpy, static_cast<int>(keycode), mask, root, False, GrabModeAsync, GrabModeAsync);
    // One at a time: a refusal names the request it answers.
    XSync(dpy, False);
    if (*refused) {
      ++refusedCount_;
      continue;
    }
    masks_.push_back(mask);
    controlAlone = controlAlone || bits == 0;
  }
  if (!controlAlone) {
    std::fprintf(stderr, "vesk: Ctrl+Break is grabbed by another program\n");
    Ungrab(dpy);
    return false;
  }
  if (refusedCount_ > 0) {
    std::fprintf(stderr,
                 "vesk: another program holds Ctrl+Break with %d combinations of other "
                 "modifiers; with those held it does not pause\n",
                 refusedCount_);
  }
  return true;
}

void BreakGrab::Ungrab(Display* dpy) {
  const Window root = DefaultRootWindow(dpy);
  for (unsigned mask : masks_) XUngrabKey(dpy, static_cast<int>(keycode_), mask, root);
  masks_.clear();
  XSync(dpy, False);
}

}  // namespace vesk::x11
