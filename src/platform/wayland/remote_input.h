// Replay on a Wayland session through the desktop's own remote input: the
// RemoteDesktop portal hands over a connection to the desktop's emulated-
// input server, and libei sends absolute pointer moves, buttons, the wheel
// and keys through it. Everything runs on the thread of the Qt event loop.
#pragma once

#include <QDBusConnection>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/types.h"
#include "platform/wayland/remote_events.h"

namespace vesk::wayland {

class RemoteInput {
 public:
  struct Options {
    std::string tokenPath;          // where the restore token is kept
    int consentTimeoutMs = 120000;  // how long the user may take to agree
    int deviceTimeoutMs = 10000;    // how long the desktop may take to offer devices
    bool loadLibrary = true;        // false: behave as if libei were missing
    // The X root's size, to bring journal positions to the desktop's layout
    // (unset: asked of the X server on a session with Xwayland).
    std::function<bool(std::int32_t* width, std::int32_t* height)> xRootSize{};
  };
  struct Callbacks {
    // The session is ready: playback may begin.
    std::function<void()> ready;
    // The session could not be opened, or ended (paused, removed, closed):
    // the line to log. Held keys and buttons were released where possible.
    std::function<void(const std::string& why)> lost;
    // Lines for the log that do not end anything (stderr when unset).
    std::function<void(const std::string& line)> note;
    // True while the desktop may be showing its permission dialog: the
    // program's windows should let it come to the front and have the keys.
    std::function<void(bool)> asking{};
  };

  // Decides at once whether this path is used: a Wayland session, libei
  // present and a RemoteDesktop portal of version 2 or later on the bus
  // (asked for only on a Wayland session).
  RemoteInput(const SessionKind& session, const std::function<QDBusConnection()>& bus,
              Options options);
  ~RemoteInput();
  RemoteInput(const RemoteInput&) = delete;
  RemoteInput& operator=(const RemoteInput&) = delete;

  void SetCallbacks(Callbacks callbacks);

  // Replay goes this way (else XTEST).
  bool Active() const;
  const std::vector<std::string>& StartupNotes() const;
  // The line for the start of a recording or playback run; empty on X11.
  std::string InputPathNote(bool playback) const;

  // The window the desktop's permission dialog belongs to ("x11:<hex id>").
  void SetParentWindow(const std::string& handle);

  // Opens the session if it is not open; ready or lost is called when it is
  // (ready possibly at once).
  void Open();
  bool Ready() const;

  // Sends one journal record as one frame per device, stamped now on the
  // monotonic clock. False when it cannot (with a note).
  bool Inject(const EVENTMSG& record);
  // Sends records at once, in order; releases of what is not held count as
  // done. Returns how many were carried out.
  std::uint32_t Send(const std::vector<EVENTMSG>& records);

  // What the desktop announced, for tests and tools.
  std::vector<Region> Regions() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace vesk::wayland
