// Desktop-wide input on an X server: capture through the RECORD extension,
// replay through XTEST (the default injector), and the Ctrl+Break key grab. Xlib stays inside the
// .cpp so that Qt and Xlib headers never meet in one file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/types.h"
#include "platform/x11/injector.h"

namespace vesk::x11 {

class X11Input : public Injector {
 public:
  struct Callbacks {
    // One captured device event, time = the server's time stamp.
    std::function<void(const EVENTMSG&)> recorded;
    // The grabbed Ctrl+Break was pressed (server time).
    std::function<void(std::uint32_t time)> breakPressed;
    // The capture or replay connection went away.
    std::function<void(const std::string& why)> lost;
  };

  X11Input();
  ~X11Input() override;
  X11Input(const X11Input&) = delete;
  X11Input& operator=(const X11Input&) = delete;

  void SetCallbacks(Callbacks callbacks);

  // Opens the control connection (replay, grabs, time) if it is not open.
  bool Connect();
  // Server time minus the monotonic clock, in ms, measured at Connect.
  std::int64_t ServerTimeOffset() const;

  bool StartRecording();
  void StopRecording();
  bool IsRecording() const;

  // Replay through XTEST on the control connection.
  bool CanInject() override;
  std::uint32_t Send(const EVENTMSG* events, std::size_t count) override;

  bool GrabBreak();
  void UngrabBreak();

  // While suspended nothing is read from the server and no callback runs.
  void Suspend(bool suspend);

  // Sends the toolkit's buffered X requests (so a repaint shows now).
  static void FlushToolkit();

  bool IsConnected() const override;

  // For tests: an X resource of the capture or the control connection, by
  // which another client can cut it.
  unsigned long CaptureConnectionResource() const;
  unsigned long ControlConnectionResource() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace vesk::x11
