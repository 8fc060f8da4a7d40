// Xlib reports protocol and connection errors through process-wide
// handlers. These keep the program's own connections apart from the
// toolkit's: an error on one of ours is reported (or noted) and never ends
// the process; a lost connection of ours is marked dead instead.
#pragma once

struct _XDisplay;

namespace vesk::x11 {

// Installs the handlers once and adopts a connection; *dead becomes true
// when the connection is lost.
void AdoptConnection(_XDisplay* dpy, bool* dead);
// Before the connection is closed (or left behind, lost).
void ForgetConnection(_XDisplay* dpy);
// Set when the server refuses a key grab (another client holds it).
bool* GrabRefusedFlag();

}  // namespace vesk::x11
