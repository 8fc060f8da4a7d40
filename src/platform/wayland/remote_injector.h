// The desktop's remote input behind the backend's injector seam, so that
// playback and input sent at once take that path on a Wayland session.
#pragma once

#include <vector>

#include "platform/wayland/remote_input.h"
#include "platform/x11/injector.h"

namespace vesk::wayland {

class RemoteInjector : public x11::Injector {
 public:
  explicit RemoteInjector(wayland::RemoteInput& remote) : remote_(remote) {}
  // The playback hook goes in at once; the session is opened (and the user
  // asked, the first time) when playback begins.
  bool CanInject() override { return remote_.Active(); }
  std::uint32_t Send(const EVENTMSG* events, std::size_t count) override {
    std::uint32_t sent = 0;
    for (std::size_t i = 0; i < count && remote_.Inject(events[i]); ++i) ++sent;
    return sent;
  }
  // Releases still go through a device the desktop keeps running while it
  // has paused the others; presses need the whole session.
  std::uint32_t SendNow(const EVENTMSG* events, std::size_t count) override {
    return remote_.Send(std::vector<EVENTMSG>(events, events + count));
  }
  bool IsConnected() const override { return remote_.Ready(); }

 private:
  wayland::RemoteInput& remote_;
};

}  // namespace vesk::wayland
