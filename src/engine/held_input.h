// The keys and mouse buttons that replayed input holds down, so that a
// playback that stops half-way never leaves them pressed on the desktop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace vesk {

bool IsMouseMessage(std::uint32_t message);

class HeldInput {
 public:
  // An event the system processed: presses are remembered, releases forget
  // their press, moves update the pointer.
  void Track(const EVENTMSG& event);
  // What lets go of everything held, last pressed first; buttons are
  // released where the pointer is.
  std::vector<EVENTMSG> ReleaseEvents() const;
  // What presses everything again, oldest first, with the pointer first
  // put back where the playback left it when a button is among them.
  std::vector<EVENTMSG> PressEvents() const;
  void Clear() { presses_.clear(); }
  std::size_t Count() const { return presses_.size(); }
  bool Empty() const { return presses_.empty(); }

 private:
  std::vector<EVENTMSG> presses_;
  bool pointerKnown_ = false;
  std::uint32_t pointerX_ = 0;
  std::uint32_t pointerY_ = 0;
};

}  // namespace vesk
