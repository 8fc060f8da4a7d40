// The one place input is replayed through: journal playback and input sent
// at once both go here, so that another path (a compositor's emulated-input
// protocol beside XTEST) can take its place without touching either.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace vesk::x11 {

class Injector {
 public:
  virtual ~Injector() = default;
  // Whether input can be replayed now (the connection is up, the server
  // lets this client inject).
  virtual bool CanInject() = 0;
  // Replays the records in order and flushes them to the server at once.
  // Returns how many were replayed; a record that is not input (or a key
  // with no key code here) is skipped and not counted.
  virtual std::uint32_t Send(const EVENTMSG* events, std::size_t count) = 0;
  // Input sent at once outside playback (what a pause releases and Continue
  // presses again); a path may treat it apart from replayed records.
  virtual std::uint32_t SendNow(const EVENTMSG* events, std::size_t count) {
    return Send(events, count);
  }
  // False once the path is gone (the connection was lost); the caller then
  // gives up the playback hook.
  virtual bool IsConnected() const = 0;
};

}  // namespace vesk::x11
