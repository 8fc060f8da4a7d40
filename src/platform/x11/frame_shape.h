// Click-through for the window manager's frame around a window of ours.
#pragma once

namespace vesk::x11 {

// Pointer input that a window's empty input shape refuses goes to its
// parent, and a reparenting window manager's frame is that parent: so the
// frame lets clicks through too while the window does, and gets its own
// input shape back after. Nothing happens for a window without a frame.
void SetFrameClickThrough(unsigned long window, bool through);

}  // namespace vesk::x11
