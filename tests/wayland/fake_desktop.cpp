// The fake desktop: a RemoteDesktop portal and a libeis server for the Wayland tests.
#include "fake_desktop.h"

extern "C" {
#include <libei.h>
#include <libeis.h>
}

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QThread>

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <optional>
#include <thread>

#include "platform/wayland/libei_api.h"

// The program declares the library's constants itself; they must match.
namespace ev = vesk::wayland::ei_event_type;
namespace cap = vesk::wayland::ei_cap;
static_assert(ev::kConnect == EI_EVENT_CONNECT && ev::kDisconnect == EI_EVENT_DISCONNECT);
static_assert(ev::kSeatAdded == EI_EVENT_SEAT_ADDED && ev::kSeatRemoved == EI_EVENT_SEAT_REMOVED);
static_assert(ev::kDeviceAdded == EI_EVENT_DEVICE_ADDED &&
              ev::kDeviceRemoved == EI_EVENT_DEVICE_REMOVED);
static_assert(ev::kDevicePaused == EI_EVENT_DEVICE_PAUSED &&
              ev::kDeviceResumed == EI_EVENT_DEVICE_RESUMED);
static_assert(cap::kPointer == EI_DEVICE_CAP_POINTER &&
              cap::kPointerAbsolute == EI_DEVICE_CAP_POINTER_ABSOLUTE &&
              cap::kKeyboard == EI_DEVICE_CAP_KEYBOARD && cap::kScroll == EI_DEVICE_CAP_SCROLL &&
              cap::kButton == EI_DEVICE_CAP_BUTTON);

namespace vesk::testing {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRoot = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");

bool IsUuid(const std::string& s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (s[i] == '-') || (!dash && std::isxdigit(static_cast<unsigned char>(s[i])) == 0)) {
      return false;
    }
  }
  return true;
}

QVariantMap MapOf(const QVariant& v) {
  if (v.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
  return v.toMap();
}

std::atomic<int> g_instances{0};

}  // namespace

std::uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

struct FakeDesktop::Impl {
  Config config;
  mutable std::recursive_mutex m;
  Requests asked;
  std::vector<Received> got;
  std::vector<Received> pending;
  QString sessionPath;
  std::optional<std::pair<QDBusConnection, QString>> held;  // a dialog left up
  bool locked = false;
  int issued = 0;
  std::string lastIssued;

  // The emulated-input server.
  eis* server = nullptr;
  eis_client* client = nullptr;
  eis_seat* seat = nullptr;
  std::vector<eis_device*> devices;
  bool seatBound = false;
  int wake = -1;
  std::atomic<bool> stop{false};
  std::thread eisThread;

  // The portal.
  class Portal : public QDBusVirtualObject {
   public:
    explicit Portal(Impl* owner) : owner_(owner) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
      return owner_->Handle(message, connection);
    }

   private:
    Impl* owner_;
  };
  QThread portalThread;
  Portal* portal = nullptr;
  QString connectionName;
  std::unique_ptr<QDBusConnection> bus;

  explicit Impl(Config c) : config(std::move(c)) {
    server = eis_new(nullptr);
    if (getenv("FAKE_EIS_DEBUG")) eis_log_set_priority(server, EIS_LOG_PRIORITY_DEBUG);
    if (eis_setup_backend_fd(server) != 0) throw std::runtime_error("eis_setup_backend_fd");
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    eisThread = std::thread([this] { Serve(); });

    portalThread.start();
    portal = new Portal(this);
    portal->moveToThread(&portalThread);
    connectionName = QStringLiteral("fake-desktop-%1").arg(++g_instances);
    bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName));
    if (!bus->isConnected())
      throw std::runtime_error("no session bus (run under dbus-run-session)");
    // Registered from the portal's own thread, where its helpers must live.
    bool registered = false;
    QMetaObject::invokeMethod(
        portal,
        [this, &registered] {
          registered = bus->registerVirtualObject(kRoot, portal, QDBusConnection::SubPath);
        },
        Qt::BlockingQueuedConnection);
    if (!registered) throw std::runtime_error("cannot register the portal object");
    QMetaObject::invokeMethod(
        portal,
        [this, &registered] {
          registered = bus->registerVirtualObject(kSaverPath, portal, QDBusConnection::SingleNode);
        },
        Qt::BlockingQueuedConnection);
    if (!registered) throw std::runtime_error("cannot register the screen saver object");
    if (!bus->registerService(kService)) throw std::runtime_error("portal name taken");
    if (!bus->registerService(kSaver)) throw std::runtime_error("screen saver name taken");
  }

  ~Impl() {
    bus->unregisterService(kService);
    bus->unregisterService(kSaver);
    bus->unregisterObject(kRoot, QDBusConnection::UnregisterTree);
    bus->unregisterObject(kSaverPath);
    bus.reset();
    QDBusConnection::disconnectFromBus(connectionName);
    portalThread.quit();
    portalThread.wait();
    delete portal;
    stop = true;
    const std::uint64_t one = 1;
    (void)!write(wake, &one, sizeof one);
    eisThread.join();
    close(wake);
    for (eis_device* d : devices) eis_device_unref(d);
    if (seat != nullptr) eis_seat_unref(seat);
    if (client != nullptr) eis_client_unref(client);
    eis_unref(server);
  }

  // ------------------------------------------------------------ portal

  void Respond(const QDBusConnection& c, const QString& path, uint code, const QVariantMap& r) {
    QDBusMessage s = QDBusMessage::createSignal(
        path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    s << code << r;
    c.send(s);
  }

  void Reply(const QDBusConnection& c, const QString& request, Answer answer) {
    if (answer != Answer::Grant) {
      Respond(c, request, answer == Answer::Refuse ? 1 : 2, {});
      return;
    }
    QVariantMap results{{"devices", 3u}, {"persist_mode", asked.persistMode}};
    if (asked.persistMode != 0) {
      char token[40];
      std::snprintf(token, sizeof token, "6c1b7d20-8f3e-4a5b-9c0d-%012d", ++issued);
      lastIssued = token;
      results.insert("restore_token", QString::fromLatin1(token));
      config.validTokens.push_back(token);
    }
    Respond(c, request, 0, results);
  }

  static QString Sender(const QDBusMessage& message) {
    QString s = message.service();
    s.remove(0, 1);
    s.replace(QLatin1Char('.'), QLatin1Char('_'));
    return s;
  }

  bool Handle(const QDBusMessage& message, const QDBusConnection& c) {
    std::lock_guard lock(m);
    const QString iface = message.interface();
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (iface == QStringLiteral("org.freedesktop.DBus.Properties") && member == "Get" &&
        args.size() == 2 && args[0].toString() == kRemoteDesktop) {
      QVariant value;
      if (args[1].toString() == "version") value = QVariant::fromValue(config.version);
      if (args[1].toString() == "AvailableDeviceTypes") value = QVariant::fromValue(7u);
      if (!value.isValid()) return false;
      c.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
      return true;
    }
    if (iface == kSaver && member == "GetActive") {
      c.send(message.createReply(QVariant::fromValue(locked)));
      return true;
    }
    if (iface == QStringLiteral("org.freedesktop.portal.Session") && member == "Close") {
      asked.closedByClient = true;
      c.send(message.createReply());
      return true;
    }
    if (iface != kRemoteDesktop || args.isEmpty()) return false;
    const QVariantMap options = MapOf(args.last());
    const QString request =
        kRoot + "/request/" + Sender(message) + "/" + options.value("handle_token").toString();
    auto replyPath = [&] {
      c.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    };
    if (member == "CreateSession") {
      ++asked.sessions;
      sessionPath = kRoot + "/session/" + Sender(message) + "/" +
                    options.value("session_handle_token").toString();
      replyPath();
      Respond(c, request, 0, {{"session_handle", sessionPath}});
      return true;
    }
    if (member == "SelectDevices") {
      asked.types = options.value("types").toUInt();
      asked.persistMode = options.value("persist_mode").toUInt();
      asked.offeredToken = options.value("restore_token").toString().toStdString();
      if (!asked.offeredToken.empty() && !IsUuid(asked.offeredToken)) {
        c.send(message.createErrorReply(QDBusError::InvalidArgs, "Restore token is not a UUID"));
        return true;
      }
      replyPath();
      Respond(c, request, 0, {});
      return true;
    }
    if (member == "Start") {
      if (args.size() == 3) asked.parentWindow = args[1].toString().toStdString();
      replyPath();
      const std::string& offered = asked.offeredToken;
      // Read once: the stored permission is deleted as it is looked up.
      const bool valid = !offered.empty() && std::erase(config.validTokens, offered) > 0;
      if (!valid) {
        ++asked.dialogs;
        if (config.answer == Answer::Hold) {
          held = {c, request};
          return true;
        }
      }
      Reply(c, request, valid ? Answer::Grant : config.answer);
      return true;
    }
    if (member == "ConnectToEIS") {
      if (!config.connectToEis) {
        c.send(message.createErrorReply(QDBusError::UnknownMethod, "No such method"));
        return true;
      }
      const int fd = eis_backend_fd_add_client(server);
      if (fd < 0) {
        c.send(message.createErrorReply(QDBusError::Failed, "no client socket"));
        return true;
      }
      c.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
      close(fd);
      Wake();
      return true;
    }
    return false;
  }

  // ------------------------------------------------------------ EIS

  void Wake() {
    const std::uint64_t one = 1;
    (void)!write(wake, &one, sizeof one);
  }

  void Serve() {
    while (!stop) {
      pollfd fds[2] = {{eis_get_fd(server), POLLIN, 0}, {wake, POLLIN, 0}};
      if (poll(fds, 2, 1000) < 0) continue;
      std::uint64_t n = 0;
      (void)!read(wake, &n, sizeof n);
      std::lock_guard lock(m);
      eis_dispatch(server);
      while (eis_event* e = eis_get_event(server)) {
        OnEvent(e);
        eis_event_unref(e);
      }
    }
  }

  eis_device* NewDevice(const char* name, std::initializer_list<eis_device_capability> caps,
                        bool regions) {
    eis_device* d = eis_seat_new_device(seat);
    eis_device_configure_name(d, name);
    eis_device_configure_type(d, EIS_DEVICE_TYPE_VIRTUAL);
    for (auto cap : caps) eis_device_configure_capability(d, cap);
    if (regions) {
      for (const FakeRegion& r : config.regions) {
        eis_region* region = eis_device_new_region(d);
        eis_region_set_offset(region, r.x, r.y);
        eis_region_set_size(region, r.width, r.height);
        eis_region_set_physical_scale(region, r.scale);
        eis_region_add(region);
        eis_region_unref(region);
      }
    }
    eis_device_add(d);
    if (config.resumeAtOnce) eis_device_resume(d);
    return d;
  }

  void AddDevices() {
    devices.push_back(NewDevice("keyboard", {EIS_DEVICE_CAP_KEYBOARD}, false));
    devices.push_back(NewDevice(
        "pointer", {EIS_DEVICE_CAP_POINTER_ABSOLUTE, EIS_DEVICE_CAP_BUTTON, EIS_DEVICE_CAP_SCROLL},
        true));
  }

  void Record(Received::Kind kind, eis_event* e, double x, double y, std::uint32_t code,
              bool press) {
    const char* name = eis_device_get_name(eis_event_get_device(e));
    pending.push_back({kind, name != nullptr ? name : "", x, y, code, press, 0, 0});
  }

  void OnEvent(eis_event* e) {
    using K = Received::Kind;
    switch (eis_event_get_type(e)) {
      case EIS_EVENT_CLIENT_CONNECT:
        if (client != nullptr) {
          eis_client_disconnect(eis_event_get_client(e));
          return;
        }
        client = eis_client_ref(eis_event_get_client(e));
        eis_client_connect(client);
        seat = eis_client_new_seat(client, "seat0");
        for (auto cap : {EIS_DEVICE_CAP_POINTER_ABSOLUTE, EIS_DEVICE_CAP_BUTTON,
                         EIS_DEVICE_CAP_SCROLL, EIS_DEVICE_CAP_KEYBOARD}) {
          eis_seat_configure_capability(seat, cap);
        }
        eis_seat_add(seat);
        return;
      case EIS_EVENT_CLIENT_DISCONNECT:
        if (eis_event_get_client(e) != client) return;
        for (eis_device* d : devices) eis_device_unref(d);
        devices.clear();
        if (seat != nullptr) eis_seat_unref(seat);
        seat = nullptr;
        eis_client_disconnect(client);
        eis_client_unref(client);
        client = nullptr;
        seatBound = false;
        return;
      case EIS_EVENT_SEAT_BIND:
        seatBound = true;
        if (devices.empty()) AddDevices();
        return;
      case EIS_EVENT_DEVICE_CLOSED:
        eis_device_remove(eis_event_get_device(e));
        return;
      case EIS_EVENT_POINTER_MOTION_ABSOLUTE:
        Record(K::Move, e, eis_event_pointer_get_absolute_x(e), eis_event_pointer_get_absolute_y(e),
               0, false);
        return;
      case EIS_EVENT_BUTTON_BUTTON:
        Record(K::Button, e, 0, 0, eis_event_button_get_button(e),
               eis_event_button_get_is_press(e));
        return;
      case EIS_EVENT_SCROLL_DISCRETE: {
        double dx = eis_event_scroll_get_discrete_dx(e), dy = eis_event_scroll_get_discrete_dy(e);
        if (config.wholeWheelNotches) {
          dx = static_cast<int>(dx) / 120 * 120;
          dy = static_cast<int>(dy) / 120 * 120;
          if (dx == 0 && dy == 0) return;
        }
        Record(K::Scroll, e, dx, dy, 0, false);
        return;
      }
      case EIS_EVENT_KEYBOARD_KEY:
        Record(K::Key, e, 0, 0, eis_event_keyboard_get_key(e),
               eis_event_keyboard_get_key_is_press(e));
        return;
      case EIS_EVENT_FRAME: {
        const std::uint64_t now = MonotonicUs();
        for (Received& r : pending) {
          r.frameUs = eis_event_get_time(e);
          r.receivedUs = now;
          got.push_back(r);
        }
        pending.clear();
        return;
      }
      default:
        return;
    }
  }

  template <typename Fn>
  void EachDevice(Fn fn) {
    std::lock_guard lock(m);
    for (eis_device* d : devices) fn(d);
  }
};

FakeDesktop::FakeDesktop(Config config) : d_(std::make_unique<Impl>(std::move(config))) {}
FakeDesktop::~FakeDesktop() = default;

FakeDesktop::Requests FakeDesktop::Asked() const {
  std::lock_guard lock(d_->m);
  return d_->asked;
}

std::vector<Received> FakeDesktop::Got() const {
  std::lock_guard lock(d_->m);
  return d_->got;
}

std::size_t FakeDesktop::DevicesAdded() const {
  std::lock_guard lock(d_->m);
  return d_->devices.size();
}

bool FakeDesktop::SeatBound() const {
  std::lock_guard lock(d_->m);
  return d_->seatBound;
}

bool FakeDesktop::ClientConnected() const {
  std::lock_guard lock(d_->m);
  return d_->client != nullptr;
}

void FakeDesktop::Resume() {
  d_->EachDevice([](eis_device* d) { eis_device_resume(d); });
}

void FakeDesktop::Pause() {
  d_->EachDevice([](eis_device* d) { eis_device_pause(d); });
}

void FakeDesktop::RemoveDevices() {
  d_->EachDevice([](eis_device* d) { eis_device_remove(d); });
}

void FakeDesktop::SwapDevices(std::vector<FakeRegion> regions) {
  std::lock_guard lock(d_->m);
  for (eis_device* d : d_->devices) {
    eis_device_remove(d);
    eis_device_unref(d);
  }
  d_->devices.clear();
  d_->config.regions = std::move(regions);
  d_->config.resumeAtOnce = true;
  if (d_->seat != nullptr) d_->AddDevices();
}

void FakeDesktop::SetLocked(bool locked) {
  {
    std::lock_guard lock(d_->m);
    d_->locked = locked;
  }
  QDBusMessage s = QDBusMessage::createSignal(kSaverPath, kSaver, QStringLiteral("ActiveChanged"));
  s << locked;
  d_->bus->send(s);
}

std::string FakeDesktop::LastIssuedToken() const {
  std::lock_guard lock(d_->m);
  return d_->lastIssued;
}

void FakeDesktop::CloseSession() {
  QString path;
  {
    std::lock_guard lock(d_->m);
    path = d_->sessionPath;
  }
  QDBusMessage s = QDBusMessage::createSignal(
      path, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"));
  s << QVariantMap{};
  d_->bus->send(s);
}

void FakeDesktop::AnswerDialog(Answer answer) {
  std::lock_guard lock(d_->m);
  if (!d_->held) return;
  d_->Reply(d_->held->first, d_->held->second, answer);
  d_->held.reset();
}

void FakeDesktop::SetValidTokens(std::vector<std::string> tokens) {
  std::lock_guard lock(d_->m);
  d_->config.validTokens = std::move(tokens);
}

}  // namespace vesk::testing
