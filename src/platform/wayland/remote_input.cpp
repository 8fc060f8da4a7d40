// Replay through the desktop's remote input: the portal session and the libei sender.
#include "platform/wayland/remote_input.h"

#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "platform/wayland/libei_api.h"
#include "platform/wayland/portal_client.h"
#include "platform/wayland/restore_token.h"
#include "platform/wayland/x_root.h"
#include "platform/x11/playback_timer.h"

namespace vesk::wayland {
namespace {

constexpr int kProbeTimeoutMs = 3000;
// A monitor or keymap change swaps the devices within one batch of events;
// a record due meanwhile waits at most this long for the new ones.
constexpr int kSwapWaitMs = 2000;

struct Device {
  ::ei_device* handle = nullptr;
  bool resumed = false;
  // Between start and stop: the desktop cannot pause a device meanwhile,
  // so it emulates only while it sends or holds something down.
  bool emulating = false;
};

}  // namespace

struct RemoteInput::State {
  // Swapping: the desktop removed devices (a monitor, scale or keymap
  // change) and is expected to add their successors.
  enum class Phase { Closed, Portal, Handshake, Ready, Paused, Swapping };

  SessionKind session;
  Options options;
  Callbacks cb;
  bool active = false;
  ReplayChoice choice;
  std::vector<std::string> notes;
  const LibEi* ei = nullptr;
  std::unique_ptr<PortalClient> portal;
  RestoreTokenFile token;

  Phase phase = Phase::Closed;
  bool waitingForResume = false;
  ::ei* ctx = nullptr;
  std::unique_ptr<QSocketNotifier> notifier;
  ::ei_seat* seat = nullptr;
  std::vector<Device> devices;
  std::uint32_t sequence = 0;
  QTimer deviceTimer;
  bool clampNoted = false;
  bool draining = false;
  std::string offeredToken;
  WheelSteps wheel{session.wholeWheelNotches};
  bool keysSwapped = false, buttonsSwapped = false;  // their device went in a swap
  std::optional<Placed> lastMove;                    // where the last move went, while known
  // Pressed through this session and not yet released, oldest first.
  std::vector<std::uint32_t> heldKeys;
  std::vector<std::uint32_t> heldButtons;

  State(const SessionKind& s, const std::function<QDBusConnection()>& busOf, Options o)
      : session(s), options(std::move(o)), token(options.tokenPath) {
    if (!options.xRootSize && session.xwayland) options.xRootSize = KeptXRootQuery();
    deviceTimer.setSingleShot(true);
    QObject::connect(&deviceTimer, &QTimer::timeout, [this] { OnDeviceTimeout(); });
    if (!session.wayland) return;
    const QDBusConnection bus = busOf();
    ei = options.loadLibrary ? LibEi::Get() : nullptr;
    if (ei == nullptr) {
      choice.whyNot = "libei not found";
    } else {
      QString why;
      if (token.NoEis()) {
        choice.whyNot =
            "an earlier run found that this desktop gives no emulated-input "
            "connection; delete " +
            token.NoEisPath() + " to try again";
      } else if (PortalClient::ProbeVersion(bus, kProbeTimeoutMs, &why) < kPortalVersionWithEis) {
        choice.whyNot = why.toStdString();
      } else if (PortalClient::BackendLacksEis(bus, kProbeTimeoutMs)) {
        choice.whyNot = "the desktop's portal backend has no emulated-input connection";
      } else {
        choice.remote = true;
      }
    }
    active = choice.remote;
    notes = StartupNotesFor(session, choice);
    // Also for whoever started the program from a terminal.
    for (const auto& line : notes) std::fprintf(stderr, "vesk: %s\n", line.c_str());
    if (active) {
      portal = std::make_unique<PortalClient>(bus);
      portal->closed = [this] { End("the desktop closed the remote input session", true); };
    }
  }

  ~State() { Teardown(); }

  void Note(const std::string& line) {
    if (cb.note) {
      cb.note(line);
    } else {
      std::fprintf(stderr, "vesk: %s\n", line.c_str());
    }
  }

  void Lost(const std::string& why) {
    if (cb.lost) cb.lost("Remote input: " + why + ".");
  }

  // ------------------------------------------------------------ opening

  void Open() {
    switch (phase) {
      case Phase::Ready:
        if (cb.ready) cb.ready();
        return;
      case Phase::Portal:
      case Phase::Handshake:
      case Phase::Swapping:
        return;
      case Phase::Paused:
        waitingForResume = true;
        deviceTimer.start(options.deviceTimeoutMs);
        return;
      case Phase::Closed:
        break;
    }
    phase = Phase::Portal;
    offeredToken = token.Load();
    if (cb.asking) cb.asking(true);
    portal->Start(QString::fromStdString(offeredToken), options.consentTimeoutMs,
                  [this](PortalResult r) { OnPortal(std::move(r)); });
  }

  void OnPortal(PortalResult r) {
    if (cb.asking) cb.asking(false);
    // The portal deletes an offered token as it reads it and keeps only the
    // one it hands back: a file still naming the old one would be stale.
    if (!r.restoreToken.isEmpty()) {
      token.Save(r.restoreToken.toStdString());
    } else if (!offeredToken.empty() && (r.started || r.tokenRejected)) {
      token.Forget();
    }
    if (!r.ok) {
      phase = Phase::Closed;
      std::string why = r.why.toStdString();
      if (r.tokenRejected) why += "; the next run asks again";
      if (r.noEis) {
        token.MarkNoEis();
        why += "; later runs replay through XTEST without asking (delete " + token.NoEisPath() +
               " to try again)";
      }
      Lost(why);
      return;
    }
    ctx = ei->new_sender(this);
    if (ctx == nullptr) {
      ::close(r.eisFd);
      End("libei could not start", false);
      return;
    }
    ei->configure_name(ctx, "Vesk");
    // The library's own lines go to the log, warnings and worse only.
    ei->log_set_priority(ctx, ei_log_priority::kWarning);
    ei->log_set_handler(ctx, &State::OnLibraryLog);
    if (ei->setup_backend_fd(ctx, r.eisFd) != 0) {
      End("libei could not use the desktop's connection", false);
      return;
    }
    phase = Phase::Handshake;
    notifier = std::make_unique<QSocketNotifier>(ei->get_fd(ctx), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { Dispatch(); });
    deviceTimer.start(options.deviceTimeoutMs);
    Dispatch();
  }

  static void OnLibraryLog(::ei* ctx, int priority, const char* message, ::ei_log_context*) {
    if (priority < ei_log_priority::kWarning || message == nullptr) return;
    auto* self = static_cast<State*>(LibEi::Get()->get_user_data(ctx));
    std::string line = message;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    if (self != nullptr) self->Note("libei: " + line);
  }

  void OnDeviceTimeout() {
    if (phase == Phase::Swapping) {
      End("the desktop removed the emulated devices and offered none in their place", false);
      return;
    }
    if (phase == Phase::Handshake) {
      End("the desktop offered no keyboard and pointer in time", false);
    } else if (phase == Phase::Paused && waitingForResume) {
      waitingForResume = false;
      Lost("the desktop keeps remote input paused");
    }
  }

  // ------------------------------------------------------------ devices

  Device* Find(::ei_device* d) {
    for (auto& dev : devices) {
      if (dev.handle == d) return &dev;
    }
    return nullptr;
  }

  ::ei_device* With(int cap) const {
    for (const auto& dev : devices) {
      if (dev.resumed && ei->device_has_capability(dev.handle, cap)) return dev.handle;
    }
    return nullptr;
  }

  ::ei_device* Pointer() const {
    // Buttons and the wheel on the device that moves, where it can.
    return With(ei_cap::kPointerAbsolute);
  }
  ::ei_device* PointerWith(int cap) const {
    ::ei_device* p = Pointer();
    return p != nullptr && ei->device_has_capability(p, cap) ? p : With(cap);
  }

  bool HaveAll() const {
    return With(ei_cap::kKeyboard) != nullptr && Pointer() != nullptr &&
           PointerWith(ei_cap::kButton) != nullptr && PointerWith(ei_cap::kScroll) != nullptr;
  }

  void Dispatch() {
    if (ctx == nullptr) return;
    ei->dispatch(ctx);
    Drain();
  }

  // Takes what the last dispatch read: once read, the socket no longer polls
  // readable, so an event left queued would wait for the desktop's next one.
  void Drain() {
    if (draining) return;  // the outer loop takes it
    draining = true;
    while (ctx != nullptr) {
      ::ei_event* e = ei->get_event(ctx);
      if (e == nullptr) break;
      const int type = ei->event_get_type(e);
      ::ei_device* device = ei->event_get_device(e);
      ::ei_seat* eventSeat = ei->event_get_seat(e);
      ei->event_unref(e);  // the device and seat stay alive with the context
      Handle(type, eventSeat, device);
    }
    draining = false;
  }

  void Handle(int type, ::ei_seat* eventSeat, ::ei_device* device) {
    namespace T = ei_event_type;
    switch (type) {
      case T::kDisconnect:
        End("the desktop ended the remote input connection", false);
        return;
      case T::kSeatAdded:
        if (seat == nullptr) {
          seat = eventSeat;
          ei->seat_bind_capabilities(seat, ei_cap::kPointerAbsolute, ei_cap::kButton,
                                     ei_cap::kScroll, ei_cap::kKeyboard,
                                     static_cast<void*>(nullptr));
        }
        return;
      case T::kSeatRemoved:
        if (eventSeat == seat) seat = nullptr;
        return;
      case T::kDeviceAdded:
        if (device != nullptr && Find(device) == nullptr) {
          devices.push_back({ei->device_ref(device), false, false});
        }
        return;
      case T::kDeviceRemoved: {
        Device* d = Find(device);
        if (d == nullptr) return;
        ei->device_unref(d->handle);
        std::erase_if(devices, [device](const Device& x) { return x.handle == device; });
        if ((phase == Phase::Ready || phase == Phase::Paused) && !HaveAll()) {
          // Both desktops replace their devices on a monitor, scale or keymap
          // change: wait for the new ones; an ended session disconnects
          // instead. What the journal holds stays held (see Resumed).
          keysSwapped = keysSwapped || With(ei_cap::kKeyboard) == nullptr;
          buttonsSwapped = buttonsSwapped || PointerWith(ei_cap::kButton) == nullptr;
          phase = Phase::Swapping;
          lastMove.reset();  // the desktop may move the pointer with its monitors
          deviceTimer.start(options.deviceTimeoutMs);
        }
        return;
      }
      case T::kDevicePaused: {
        Device* d = Find(device);
        if (d == nullptr || !d->resumed) return;
        d->resumed = false;
        d->emulating = false;
        if (phase == Phase::Ready) {
          phase = Phase::Paused;
          Lost("the desktop paused it (screen locked or permission withdrawn)");
        }
        return;
      }
      case T::kDeviceResumed: {
        Device* d = Find(device);
        if (d == nullptr) return;
        d->resumed = true;
        if ((phase == Phase::Handshake || phase == Phase::Paused || phase == Phase::Swapping) &&
            HaveAll()) {
          const bool wanted = phase == Phase::Handshake || waitingForResume;
          const bool swapped = phase == Phase::Swapping;
          phase = Phase::Ready;
          waitingForResume = false;
          deviceTimer.stop();
          // KWin keeps a key held over a swap, mutter lets go: pressed again on
          // the new device, it is held on both as the journal has it. Whatever
          // stayed pressed over a pause goes up first.
          swapped ? PressHeldAgain() : ReleaseHeld();
          if (wanted && cb.ready) cb.ready();
        }
        return;
      }
      default:
        return;
    }
  }

  // ------------------------------------------------------------ sending

  bool Emit(const DeviceEvent& ev, std::vector<::ei_device*>& touched) {
    using K = DeviceEvent::Kind;
    ::ei_device* d = nullptr;
    switch (ev.kind) {
      case K::Move: {
        d = Pointer();
        if (d == nullptr) return false;
        std::int32_t rootW = 0, rootH = 0;  // asked every time: the desktop may resize it
        if (options.xRootSize && !options.xRootSize(&rootW, &rootH)) rootW = rootH = 0;
        const Placed p = PlaceFromXRoot(RegionsOf(d), rootW, rootH, ev.x, ev.y);
        if (p.clamped && !clampNoted) {
          clampNoted = true;
          Note("position " + std::to_string(ev.x) + "," + std::to_string(ev.y) +
               " is on no monitor of this desktop; replayed at the nearest point " +
               std::to_string(static_cast<long>(p.x)) + "," +
               std::to_string(static_cast<long>(p.y)) + " (said once)");
        }
        StartEmulating(d);
        if (session.edgeBarriers) {
          for (const Placed& h : CrossingHops(RegionsOf(d), lastMove ? &*lastMove : nullptr, p)) {
            ei->device_pointer_motion_absolute(d, h.x, h.y);
            ei->device_frame(d, ei->now(ctx));
          }
          lastMove = p;
        }
        ei->device_pointer_motion_absolute(d, p.x, p.y);
        break;
      }
      case K::Button:
        d = PointerWith(ei_cap::kButton);
        if (d == nullptr) return false;
        StartEmulating(d);
        ei->device_button_button(d, ev.code, ev.press);
        Track(heldButtons, ev.code, ev.press);
        break;
      case K::Scroll: {
        d = PointerWith(ei_cap::kScroll);
        if (d == nullptr) return false;
        const std::int32_t steps = wheel.Take(ev.y);
        if (steps == 0) return true;  // carried to the next turn
        StartEmulating(d);
        ei->device_scroll_discrete(d, ev.x, steps);
        break;
      }
      case K::Key:
        d = With(ei_cap::kKeyboard);
        if (d == nullptr) return false;
        StartEmulating(d);
        ei->device_keyboard_key(d, ev.code, ev.press);
        Track(heldKeys, ev.code, ev.press);
        break;
    }
    if (std::find(touched.begin(), touched.end(), d) == touched.end()) touched.push_back(d);
    return true;
  }

  void StartEmulating(::ei_device* d) {
    Device* dev = Find(d);
    if (dev == nullptr || dev->emulating) return;
    ei->device_start_emulating(d, ++sequence);
    dev->emulating = true;
  }

  static void Track(std::vector<std::uint32_t>& held, std::uint32_t code, bool press) {
    std::erase(held, code);
    if (press) held.push_back(code);
  }

  bool Holds(::ei_device* d) const {
    return (!heldKeys.empty() && d == With(ei_cap::kKeyboard)) ||
           (!heldButtons.empty() && d == PointerWith(ei_cap::kButton));
  }

  void Frame(const std::vector<::ei_device*>& touched) {
    const std::uint64_t now = ei->now(ctx);
    for (::ei_device* d : touched) {
      ei->device_frame(d, now);
      Device* dev = Find(d);
      if (dev != nullptr && dev->emulating && !Holds(d)) {
        ei->device_stop_emulating(d);
        dev->emulating = false;
      }
    }
    // Sent now, not when the event loop next runs; what that read is taken.
    ei->dispatch(ctx);
    Drain();
  }

  bool Inject(const EVENTMSG& record) {
    if (phase == Phase::Swapping) AwaitSwap();
    if (phase != Phase::Ready) return false;
    return Play(record);
  }

  // Reads the desktop's events until the swapped devices are running.
  void AwaitSwap() {
    const std::uint64_t until = x11::MonotonicNs() / 1000000u + kSwapWaitMs;
    while (phase == Phase::Swapping && ctx != nullptr) {
      const std::uint64_t now = x11::MonotonicNs() / 1000000u;
      if (now >= until) return;
      pollfd p{ei->get_fd(ctx), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(until - now)) > 0) Dispatch();
    }
  }

  // Sends through whichever devices can take it now.
  bool Play(const EVENTMSG& record) {
    const auto events = DeviceEventsFor(record);
    if (!events) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%x", record.message);
      Note("record 0x" + std::string(hex) + " (" + std::to_string(record.paramL) +
           ") cannot be replayed through remote input; skipped");
      return false;
    }
    std::vector<::ei_device*> touched;
    bool ok = true;
    for (const DeviceEvent& ev : *events) ok = Emit(ev, touched) && ok;
    if (!touched.empty()) Frame(touched);
    return ok;
  }

  bool Held(const EVENTMSG& r) const {
    const auto events = DeviceEventsFor(r);
    if (!events) return false;
    const DeviceEvent& last = events->back();
    const auto& held = last.kind == DeviceEvent::Kind::Key ? heldKeys : heldButtons;
    return std::find(held.begin(), held.end(), last.code) != held.end();
  }

  std::uint32_t Send(const std::vector<EVENTMSG>& records) {
    std::uint32_t done = 0;
    for (const EVENTMSG& r : records) {
      if (IsReleaseRecord(r) && !Held(r)) {
        ++done;  // already up: the session's end released it
        continue;
      }
      // Releases go through any device still running, even while the
      // desktop has paused another; presses only to a ready session.
      const bool ok = IsReleaseRecord(r) ? ctx != nullptr && ReleaseOne(r) : Inject(r);
      if (!ok) break;
      ++done;
    }
    return done;
  }

  bool ReleaseOne(const EVENTMSG& r) {
    const auto events = DeviceEventsFor(r);
    if (!events) return false;
    const DeviceEvent& release = events->back();
    ::ei_device* d = release.kind == DeviceEvent::Kind::Key ? With(ei_cap::kKeyboard)
                                                            : PointerWith(ei_cap::kButton);
    if (d == nullptr) return false;
    std::vector<::ei_device*> touched;
    const bool ok = Emit(release, touched);
    if (!touched.empty()) Frame(touched);
    return ok;
  }

  // Lets go of what this session holds down, newest first, on the devices
  // still running (the rest when they resume); or after a swap presses it
  // again on the devices that were replaced. Keys go up first then: KWin
  // keeps them held, but its new keymap starts with no modifier down and a
  // press of a held key changes nothing.
  void ReleaseHeld() { SendHeld(false); }
  void PressHeldAgain() { SendHeld(true); }
  void SendHeld(bool press) {
    if (ctx == nullptr) return;
    std::vector<::ei_device*> touched;
    auto each = [&](std::vector<std::uint32_t>& held, ::ei_device* d, bool swapped, bool upFirst,
                    void (*send)(::ei_device*, std::uint32_t, bool)) {
      if (d == nullptr || held.empty() || (press && !swapped)) return;
      StartEmulating(d);
      for (std::size_t i = 0; i < held.size(); ++i) {
        const std::uint32_t code = press ? held[i] : held[held.size() - 1 - i];
        if (!press || upFirst) send(d, code, false);
        if (press) send(d, code, true);
      }
      if (!press) held.clear();
      if (std::find(touched.begin(), touched.end(), d) == touched.end()) touched.push_back(d);
    };
    each(heldKeys, With(ei_cap::kKeyboard), keysSwapped, true, ei->device_keyboard_key);
    each(heldButtons, PointerWith(ei_cap::kButton), buttonsSwapped, false,
         ei->device_button_button);
    if (press) keysSwapped = buttonsSwapped = false;
    if (!touched.empty()) Frame(touched);
  }

  std::vector<Region> RegionsOf(::ei_device* d) const {
    std::vector<Region> out;
    for (std::size_t i = 0;; ++i) {
      ::ei_region* r = ei->device_get_region(d, i);
      if (r == nullptr) break;
      out.push_back({static_cast<std::int32_t>(ei->region_get_x(r)),
                     static_cast<std::int32_t>(ei->region_get_y(r)),
                     static_cast<std::int32_t>(ei->region_get_width(r)),
                     static_cast<std::int32_t>(ei->region_get_height(r)),
                     ei->region_get_physical_scale(r)});
    }
    return out;
  }

  // ------------------------------------------------------------ ending

  // Ends the session; releaseFirst sends what is held while the connection
  // still stands.
  void End(const std::string& why, bool releaseFirst) {
    if (releaseFirst && phase == Phase::Ready) ReleaseHeld();
    const bool mattered = phase != Phase::Closed;
    Teardown();
    if (mattered) Lost(why);
  }

  void Teardown() {
    if (phase == Phase::Portal && cb.asking) cb.asking(false);
    deviceTimer.stop();
    notifier.reset();
    if (ei != nullptr) {
      for (auto& d : devices) ei->device_unref(d.handle);
    }
    devices.clear();
    seat = nullptr;
    if (ctx != nullptr) ei->unref(ctx);
    ctx = nullptr;
    if (portal) portal->Close();
    phase = Phase::Closed;
    waitingForResume = false;
    clampNoted = false;
    wheel.Reset();
    heldKeys.clear();
    heldButtons.clear();
    keysSwapped = buttonsSwapped = false;
    lastMove.reset();
  }
};

RemoteInput::RemoteInput(const SessionKind& session, const std::function<QDBusConnection()>& bus,
                         Options options)
    : s_(std::make_unique<State>(session, bus, std::move(options))) {}

RemoteInput::~RemoteInput() = default;

void RemoteInput::SetCallbacks(Callbacks callbacks) { s_->cb = std::move(callbacks); }
bool RemoteInput::Active() const { return s_->active; }
const std::vector<std::string>& RemoteInput::StartupNotes() const { return s_->notes; }
std::string RemoteInput::InputPathNote(bool playback) const {
  return InputPathNoteFor(s_->session, s_->choice, playback);
}
void RemoteInput::SetParentWindow(const std::string& handle) {
  if (s_->portal) s_->portal->SetParentWindow(QString::fromStdString(handle));
}
void RemoteInput::Open() {
  if (s_->active) s_->Open();
}
bool RemoteInput::Ready() const { return s_->phase == State::Phase::Ready; }
bool RemoteInput::Inject(const EVENTMSG& record) { return s_->Inject(record); }
std::uint32_t RemoteInput::Send(const std::vector<EVENTMSG>& records) { return s_->Send(records); }

std::vector<Region> RemoteInput::Regions() const {
  ::ei_device* d = s_->ei != nullptr && s_->ctx != nullptr ? s_->Pointer() : nullptr;
  return d != nullptr ? s_->RegionsOf(d) : std::vector<Region>{};
}

}  // namespace vesk::wayland
