// What the backend contract needs from the system under a backend: a
// place to run the program's code, a way to let the system work, and a
// user at the devices. Each backend's test program supplies one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/platform.h"

namespace vesk::testing {

class Desk {
 public:
  virtual ~Desk() = default;
  virtual Backend& backend() = 0;
  // Runs fn where the program runs (the thread that owns the windows).
  virtual void OnUi(const std::function<void()>& fn) = 0;
  // Lets messages, input and playback flow until done() holds; false when
  // the time allowed ran out.
  virtual bool WaitFor(const std::function<bool()>& done) = 0;
  // Lets the system work a moment in which nothing more is expected.
  virtual void Idle() = 0;
  // A user at the devices: input the system sees as real.
  virtual void UserMove(int x, int y) = 0;
  virtual void UserKeyA(bool down) = 0;  // the A key (scan code 0x1E)
  // Where the system puts the pointer now.
  virtual void Pointer(int* x, int* y) = 0;
};

std::unique_ptr<Desk> MakeDesk();

}  // namespace vesk::testing
