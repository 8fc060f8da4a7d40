#include "platform/wayland/remote_input.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/wayland/libei_api.h"
#include "platform/wayland/portal_client.h"
#include "platform/wayland/restore_token.h"

namespace vesk::wayland {
namespace {

constexpr int kProbeTimeoutMs = 3000;

struct Device {
  ::ei_device* handle = nullptr;
  bool resumed = false;
  // Between start and stop: the desktop cannot pause a device meanwhile,
  // so it emulates only while it sends or holds something down.
  bool emulating = false;
};

}  // namespace

struct RemoteInput::State {
  enum class Phase { Closed, Portal, Handshake, Ready, Paused };

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
  // Pressed through this session and not yet released, oldest first.
  std::vector<std::uint32_t> heldKeys;
  std::vector<std::uint32_t> heldButtons;

  State(const SessionKind& s, const std::function<QDBusConnection()>& busOf, Options o)
      : session(s), options(std::move(o)), token(options.tokenPath) {
    deviceTimer.setSingleShot(true);
    QObject::connect(&deviceTimer, &QTimer::timeout, [this] { OnDeviceTimeout(); });
    if (!session.wayland) return;
    const QDBusConnection bus = busOf();
    ei = options.loadLibrary ? LibEi::Get() : nullptr;
    if (ei == nullptr) {
      choice.whyNot = "libei not found";
    } else {
      QString why;
      if (PortalClient::ProbeVersion(bus, kProbeTimeoutMs, &why) >= kPortalVersionWithEis) {
        choice.remote = true;
      } else {
        choice.whyNot = why.toStdString();
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
        return;
      case Phase::Paused:
        waitingForResume = true;
        deviceTimer.start(options.deviceTimeoutMs);
        return;
      case Phase::Closed:
        break;
    }
    phase = Phase::Portal;
    const std::string saved = token.Load();
    portal->Start(QString::fromStdString(saved), options.consentTimeoutMs,
                  [this](PortalResult r) { OnPortal(std::move(r)); });
  }

  void OnPortal(PortalResult r) {
    if (!r.ok) {
      phase = Phase::Closed;
      std::string why = r.why.toStdString();
      if (r.tokenRejected) {
        token.Forget();
        why += "; the next run asks again";
      }
      Lost(why);
      return;
    }
    if (!r.restoreToken.isEmpty()) token.Save(r.restoreToken.toStdString());
    ctx = ei->new_sender(nullptr);
    if (ctx == nullptr) {
      ::close(r.eisFd);
      End("libei could not start", false);
      return;
    }
    ei->configure_name(ctx, "Vesk");
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

  void OnDeviceTimeout() {
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
    while (ctx != nullptr) {
      ::ei_event* e = ei->get_event(ctx);
      if (e == nullptr) break;
      const int type = ei->event_get_type(e);
      ::ei_device* device = ei->event_get_device(e);
      ::ei_seat* eventSeat = ei->event_get_seat(e);
      ei->event_unref(e);  // the device and seat stay alive with the context
      Handle(type, eventSeat, device);
    }
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
        if (phase == Phase::Ready || phase == Phase::Paused) {
          // What it held is the desktop's to let go now.
          heldKeys.clear();
          heldButtons.clear();
          End("the desktop removed the emulated devices (permission withdrawn or session ended)",
              false);
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
        if ((phase == Phase::Handshake || phase == Phase::Paused) && HaveAll()) {
          const bool wanted = phase == Phase::Handshake || waitingForResume;
          phase = Phase::Ready;
          waitingForResume = false;
          deviceTimer.stop();
          // Whatever stayed pressed over the pause goes up first.
          ReleaseHeld();
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
        const Placed p = PlaceOnRegions(RegionsOf(d), ev.x, ev.y);
        if (p.clamped && !clampNoted) {
          clampNoted = true;
          Note("position " + std::to_string(ev.x) + "," + std::to_string(ev.y) +
               " is on no monitor of this desktop; replayed at the nearest point " +
               std::to_string(static_cast<long>(p.x)) + "," +
               std::to_string(static_cast<long>(p.y)) + " (said once)");
        }
        StartEmulating(d);
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
      case K::Scroll:
        d = PointerWith(ei_cap::kScroll);
        if (d == nullptr) return false;
        StartEmulating(d);
        ei->device_scroll_discrete(d, ev.x, ev.y);
        break;
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
    // Sent now, not when the event loop next runs.
    ei->dispatch(ctx);
  }

  bool Inject(const EVENTMSG& record) {
    if (phase != Phase::Ready) return false;
    return Play(record);
  }

  // Sends through whichever devices can take it now.
  bool Play(const EVENTMSG& record) {
    const auto events = DeviceEventsFor(record);
    if (!events) {
      Note("record 0x" + ToHex(record.message) + " (" + std::to_string(record.paramL) +
           ") cannot be replayed through remote input; skipped");
      return false;
    }
    std::vector<::ei_device*> touched;
    bool ok = true;
    for (const DeviceEvent& ev : *events) ok = Emit(ev, touched) && ok;
    if (!touched.empty()) Frame(touched);
    return ok;
  }

  static std::string ToHex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
  }

  static bool IsRelease(const EVENTMSG& r) {
    return r.message == WM_KEYUP || r.message == WM_SYSKEYUP || r.message == WM_LBUTTONUP ||
           r.message == WM_RBUTTONUP || r.message == WM_MBUTTONUP || r.message == WM_XBUTTONUP;
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
      if (IsRelease(r) && !Held(r)) {
        ++done;  // already up: the session's end released it
        continue;
      }
      // Releases go through any device still running, even while the
      // desktop has paused another; presses only to a ready session.
      const bool ok = IsRelease(r) ? ctx != nullptr && ReleaseOne(r) : Inject(r);
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

  // Lets go of what this session holds down, on the devices still running
  // (the rest when they resume).
  void ReleaseHeld() {
    if (ctx == nullptr) return;
    std::vector<::ei_device*> touched;
    ::ei_device* keyboard = With(ei_cap::kKeyboard);
    if (keyboard != nullptr && !heldKeys.empty()) {
      StartEmulating(keyboard);
      for (auto it = heldKeys.rbegin(); it != heldKeys.rend(); ++it) {
        ei->device_keyboard_key(keyboard, *it, false);
      }
      heldKeys.clear();
      touched.push_back(keyboard);
    }
    ::ei_device* buttons = PointerWith(ei_cap::kButton);
    if (buttons != nullptr && !heldButtons.empty()) {
      StartEmulating(buttons);
      for (auto it = heldButtons.rbegin(); it != heldButtons.rend(); ++it) {
        ei->device_button_button(buttons, *it, false);
      }
      heldButtons.clear();
      if (buttons != keyboard) touched.push_back(buttons);
    }
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
    heldKeys.clear();
    heldButtons.clear();
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
