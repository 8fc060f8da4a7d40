// The choice of the Linux program's input path.
#include "platform/qt/linux_input.h"

#include <QDBusConnection>

#include <cstdlib>

#include "platform/wayland/restore_token.h"
#include "platform/wayland/wayland_input_path.h"
#include "platform/x11/x11_input_path.h"

namespace vesk::qt {

LinuxInput ChooseLinuxInput() {
  const wayland::SessionKind session = wayland::DetectSession(&std::getenv);
  LinuxInput chosen;
  if (session.wayland) {
    auto path = std::make_unique<wayland::WaylandInputPath>(
        session, [] { return QDBusConnection::sessionBus(); },
        wayland::RemoteInput::Options{wayland::kRestoreTokenFileName});
    chosen.server = &path->Server();
    chosen.path = std::move(path);
  } else {
    auto path = std::make_unique<x11::X11InputPath>();
    chosen.server = &path->Server();
    chosen.path = std::move(path);
  }
  return chosen;
}

}  // namespace vesk::qt
