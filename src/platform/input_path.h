// The seam between the Linux windows and desktop-wide input: capture, the
// Ctrl+Break key, and the injector that replays playback and input sent at
// once. The X server's input and the Wayland session's remote input both
// implement it; the program picks one at start-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace vesk {

// The one place input is replayed through: journal playback and input sent
// at once both go here, so that another path (a compositor's emulated-input
// protocol beside XTEST) can take its place without touching either.
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

class InputPath {
 public:
  struct Callbacks {
    // One captured device event, stamped on the capture clock.
    std::function<void(const EVENTMSG&)> recorded;
    // The grabbed Ctrl+Break was pressed (capture clock).
    std::function<void(std::uint32_t time)> breakPressed;
    // Capture or replay cannot go on: the line to log.
    std::function<void(const std::string& line)> lost;
    // True while the desktop may be showing its permission dialog: the
    // program's windows should let it have the front and the keys.
    std::function<void(bool asking)> asking{};
  };

  virtual ~InputPath() = default;
  virtual void SetCallbacks(Callbacks callbacks) = 0;

  virtual bool StartCapture() = 0;
  virtual void StopCapture() = 0;
  virtual bool GrabBreak() = 0;
  virtual void UngrabBreak() = 0;
  // While suspended nothing is captured and no callback runs.
  virtual void Suspend(bool suspend) = 0;
  // The capture clock minus the monotonic clock, in milliseconds.
  virtual std::int64_t ClockOffsetMs() const = 0;

  // What replays on this path.
  virtual Injector& Replay() = 0;
  // Makes replay ready (the desktop may ask the user); ready runs when it
  // is, possibly at once; a failure comes as lost.
  virtual void PrepareReplay(std::function<void()> ready) = 0;
  // The window a permission dialog of the desktop belongs to ("x11:<id>").
  virtual void SetDialogParent(const std::string& handle) { (void)handle; }

  // Lines for the log at start-up, and at the start of a run.
  virtual std::vector<std::string> StartupNotes() = 0;
  virtual std::string InputPathNote(bool playback) = 0;
};

}  // namespace vesk
