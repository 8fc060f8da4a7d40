// The input path of a Wayland session: capture and the Ctrl+Break key stay
// on the X server (Xwayland); replay goes through the desktop's remote
// input where it has one, else through XTEST, with the reason in the notes.
#pragma once

#include <QDBusConnection>

#include <functional>

#include "platform/input_path.h"
#include "platform/wayland/remote_injector.h"
#include "platform/wayland/remote_input.h"
#include "platform/x11/x11_input_path.h"

namespace vesk::wayland {

class WaylandInputPath : public InputPath {
 public:
  WaylandInputPath(const SessionKind& session, const std::function<QDBusConnection()>& bus,
                   RemoteInput::Options options);

  void SetCallbacks(Callbacks callbacks) override;
  bool StartCapture() override { return x11_.StartCapture(); }
  void StopCapture() override { x11_.StopCapture(); }
  bool GrabBreak() override { return x11_.GrabBreak(); }
  void UngrabBreak() override { x11_.UngrabBreak(); }
  void Suspend(bool suspend) override { x11_.Suspend(suspend); }
  std::int64_t ClockOffsetMs() const override { return x11_.ClockOffsetMs(); }
  Injector& Replay() override;
  void PrepareReplay(std::function<void()> ready) override;
  void SetDialogParent(const std::string& handle) override { remote_.SetParentWindow(handle); }
  std::vector<std::string> StartupNotes() override { return remote_.StartupNotes(); }
  std::string InputPathNote(bool playback) override { return remote_.InputPathNote(playback); }

  x11::X11Input& Server() { return x11_.Server(); }

 private:
  x11::X11InputPath x11_;
  RemoteInput remote_;
  RemoteInjector remoteInjector_{remote_};
  std::function<void()> ready_;  // what the session's readiness starts
};

}  // namespace vesk::wayland
