// The Ctrl+Break key grab. The Pause key is grabbed with Control combined
// with every state of the other modifiers (Shift, the locks, Alt, the logo
// key, AltGr), so that the pause works whatever else is held or locked.
#pragma once

#include <vector>

struct _XDisplay;

namespace vesk::x11 {

class BreakGrab {
 public:
  // Grabs what it can; *refused is set by the connection's error handler
  // when the server refuses one combination (another client holds it).
  // True when at least Control alone was grabbed.
  bool Grab(_XDisplay* dpy, unsigned keycode, bool* refused);
  void Ungrab(_XDisplay* dpy);
  bool Grabbed() const { return !masks_.empty(); }
  // How many combinations another client holds.
  int Refused() const { return refusedCount_; }

 private:
  unsigned keycode_ = 0;
  std::vector<unsigned> masks_;
  int refusedCount_ = 0;
};

}  // namespace vesk::x11
