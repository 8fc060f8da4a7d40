// The input path of a Wayland session.
#include "platform/wayland/wayland_input_path.h"

#include <utility>

namespace vesk::wayland {

WaylandInputPath::WaylandInputPath(const SessionKind& session,
                                   const std::function<QDBusConnection()>& bus,
                                   RemoteInput::Options options)
    : remote_(session, bus, std::move(options)) {}

void WaylandInputPath::SetCallbacks(Callbacks callbacks) {
  RemoteInput::Callbacks rcb;
  rcb.ready = [this] {
    if (ready_) std::exchange(ready_, {})();
  };
  rcb.lost = callbacks.lost;
  rcb.asking = callbacks.asking;
  remote_.SetCallbacks(std::move(rcb));
  x11_.SetCallbacks(std::move(callbacks));
}

Injector& WaylandInputPath::Replay() {
  if (remote_.Active()) return remoteInjector_;
  return x11_.Replay();
}

void WaylandInputPath::PrepareReplay(std::function<void()> ready) {
  if (!remote_.Active() || remote_.Ready()) {
    ready();
    return;
  }
  ready_ = std::move(ready);
  remote_.Open();  // ready or lost follows, possibly at once
}

}  // namespace vesk::wayland
