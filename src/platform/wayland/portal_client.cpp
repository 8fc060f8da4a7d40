// The RemoteDesktop portal over D-Bus: session, devices, start and the EIS socket.
#include "platform/wayland/portal_client.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace vesk::wayland {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint kKeyboard = 1;
constexpr uint kPointer = 2;
constexpr uint kPersistUntilRevoked = 2;
constexpr int kStepTimeoutMs = 25000;

// Portal responses: 0 success, 1 the user cancelled, 2 anything else.
constexpr uint kResponseCancelled = 1;

std::atomic<unsigned> g_clients{0};

}  // namespace

PortalClient::PortalClient(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  tokenCounter_ = 1000 * ++g_clients;
  timeout_.setSingleShot(true);
  connect(&timeout_, &QTimer::timeout, this, [this] {
    PortalResult r;
    r.why = step_ == Step::Start
                ? QStringLiteral("nobody answered the desktop's permission dialog in time")
                : QStringLiteral("the desktop's portal did not answer");
    Finish(r);
  });
}

PortalClient::~PortalClient() {
  done_ = nullptr;
  Close();
}

unsigned PortalClient::ProbeVersion(QDBusConnection bus, int timeoutMs, QString* why) {
  if (!bus.isConnected()) {
    if (why != nullptr) *why = QStringLiteral("no D-Bus session bus");
    return 0;
  }
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kRemoteDesktop << QStringLiteral("version");
  const QDBusMessage reply = bus.call(get, QDBus::Block, timeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    if (why != nullptr) *why = QStringLiteral("the desktop offers no remote input portal");
    return 0;
  }
  const QVariant v = reply.arguments().first().value<QDBusVariant>().variant();
  bool ok = false;
  const unsigned version = v.toUInt(&ok);
  if (!ok) {
    if (why != nullptr) *why = QStringLiteral("the desktop's remote input portal gave no version");
    return 0;
  }
  if (version < kPortalVersionWithEis && why != nullptr) {
    *why = QStringLiteral("the desktop's remote input portal is version %1, without libei")
               .arg(version);
  }
  return version;
}

bool PortalClient::BackendLacksEis(QDBusConnection bus, int timeoutMs) {
  if (!bus.isConnected()) return false;
  for (const char* name :
       {"org.freedesktop.impl.portal.desktop.gnome", "org.freedesktop.impl.portal.desktop.kde"}) {
    const QString service = QString::fromLatin1(name);
    // Only a backend already running: asking must not start one.
    const QDBusReply<bool> owned = bus.interface()->isServiceRegistered(service);
    if (!owned.isValid() || !owned.value()) continue;
    QDBusMessage m = QDBusMessage::createMethodCall(
        service, kPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
        QStringLiteral("Introspect"));
    const QDBusMessage reply = bus.call(m, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) continue;
    const QString xml = reply.arguments().first().toString();
    const qsizetype at =
        xml.indexOf(QStringLiteral("\"org.freedesktop.impl.portal.RemoteDesktop\""));
    if (at < 0) continue;
    const qsizetype end = xml.indexOf(QStringLiteral("</interface>"), at);
    return !xml.mid(at, end < 0 ? -1 : end - at).contains(QStringLiteral("\"ConnectToEIS\""));
  }
  return false;
}

QString PortalClient::NextToken() { return QStringLiteral("vesk%1").arg(++tokenCounter_); }

QString PortalClient::RequestPath(const QString& token) const {
  QString sender = bus_.baseService();
  sender.remove(0, 1);  // the leading ':'
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  return kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void PortalClient::Watch(const QString& path) {
  Unwatch();
  watched_ = path;
  bus_.connect(kService, path, kRequest, QStringLiteral("Response"), this,
               SLOT(OnResponse(uint, QVariantMap)));
}

void PortalClient::Unwatch() {
  if (watched_.isEmpty()) return;
  bus_.disconnect(kService, watched_, kRequest, QStringLiteral("Response"), this,
                  SLOT(OnResponse(uint, QVariantMap)));
  watched_.clear();
}

void PortalClient::Call(const QString& method, const QVariantList& args, const QString& token) {
  // Listen before asking: the answer may come before the call's reply.
  Watch(RequestPath(token));
  QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
  m.setArguments(args);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(m, kStepTimeoutMs), this);
  const Step step = step_;
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, watcher, method, step](QDBusPendingCallWatcher*) {
            watcher->deleteLater();
            if (step_ != step) return;
            QDBusPendingReply<QDBusObjectPath> reply = *watcher;
            if (reply.isError()) {
              PortalResult r;
              // A token the portal cannot parse fails the call itself.
              r.tokenRejected = step == Step::Select && !offeredToken_.isEmpty();
              r.why = r.tokenRejected
                          ? QStringLiteral("the desktop does not accept the saved permission (%1)")
                                .arg(reply.error().message())
                          : QStringLiteral("the desktop's portal refused %1: %2")
                                .arg(method, reply.error().message());
              Finish(r);
              return;
            }
            // Older portals answer on a path of their own choosing.
            const QString path = reply.value().path();
            if (path != watched_) Watch(path);
          });
}

void PortalClient::Start(const QString& restoreToken, int consentTimeoutMs,
                         std::function<void(PortalResult)> done) {
  Close();
  done_ = std::move(done);
  offeredToken_ = restoreToken;
  newToken_.clear();
  started_ = false;
  step_ = Step::Create;
  const QString token = NextToken();
  QVariantMap options{{QStringLiteral("handle_token"), token},
                      {QStringLiteral("session_handle_token"), NextToken()}};
  timeout_.start(kStepTimeoutMs);
  consentTimeoutMs_ = consentTimeoutMs;
  Call(QStringLiteral("CreateSession"), {options}, token);
}

void PortalClient::OnResponse(uint response, const QVariantMap& results) {
  if (step_ == Step::Idle || step_ == Step::Connect) return;
  Unwatch();
  if (response != 0) {
    PortalResult r;
    if (step_ == Step::Start && response == kResponseCancelled) {
      r.refused = true;
      r.why = QStringLiteral("the user declined the desktop's remote input dialog");
    } else if (step_ == Step::Start) {
      // GNOME answers so when the dialog's window is closed; an unknown
      // token never gets here (the dialog just comes back).
      r.why = QStringLiteral("the desktop's permission dialog was closed without an answer");
    } else {
      r.why = QStringLiteral("the desktop's portal ended the request (response %1)").arg(response);
    }
    Finish(r);
    return;
  }
  switch (step_) {
    case Step::Create: {
      session_ = results.value(QStringLiteral("session_handle")).toString();
      if (session_.isEmpty()) {
        PortalResult r;
        r.why = QStringLiteral("the desktop's portal created no session");
        Finish(r);
        return;
      }
      bus_.connect(kService, session_, kSession, QStringLiteral("Closed"), this,
                   SLOT(OnSessionClosed(QVariantMap)));
      step_ = Step::Select;
      const QString token = NextToken();
      QVariantMap options{{QStringLiteral("handle_token"), token},
                          {QStringLiteral("types"), kKeyboard | kPointer},
                          {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
      if (!offeredToken_.isEmpty()) options.insert(QStringLiteral("restore_token"), offeredToken_);
      timeout_.start(kStepTimeoutMs);
      Call(QStringLiteral("SelectDevices"),
           {QVariant::fromValue(QDBusObjectPath(session_)), options}, token);
      break;
    }
    case Step::Select: {
      step_ = Step::Start;
      const QString token = NextToken();
      QVariantMap options{{QStringLiteral("handle_token"), token}};
      // The user may take a while to answer the dialog.
      timeout_.start(consentTimeoutMs_);
      Call(QStringLiteral("Start"),
           {QVariant::fromValue(QDBusObjectPath(session_)), parentWindow_, options}, token);
      break;
    }
    case Step::Start: {
      const uint devices = results.value(QStringLiteral("devices")).toUInt();
      if ((devices & (kKeyboard | kPointer)) != (kKeyboard | kPointer)) {
        PortalResult r;
        r.why = QStringLiteral("the desktop granted no keyboard and pointer");
        Finish(r);
        return;
      }
      newToken_ = results.value(QStringLiteral("restore_token")).toString();
      started_ = true;
      ConnectToEis();
      break;
    }
    case Step::Idle:
    case Step::Connect:
      break;
  }
}

void PortalClient::ConnectToEis() {
  step_ = Step::Connect;
  timeout_.start(kStepTimeoutMs);
  QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop,
                                                  QStringLiteral("ConnectToEIS"));
  m.setArguments({QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap{}});
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(m, kStepTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, watcher](QDBusPendingCallWatcher*) {
            watcher->deleteLater();
            if (step_ != Step::Connect) return;
            QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
            PortalResult r;
            r.started = true;
            r.restoreToken = newToken_;
            if (reply.isError() || !reply.value().isValid()) {
              // The permission stands; the desktop cannot do it (a portal
              // that reports version 2 over a backend without it).
              r.noEis = true;
              r.why = QStringLiteral("the desktop gave no emulated-input connection: %1")
                          .arg(reply.error().message());
              Finish(r);
              return;
            }
            // The descriptor object closes its copy; ours lives on.
            r.eisFd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
            r.ok = r.eisFd >= 0;
            if (!r.ok) r.why = QStringLiteral("out of file descriptors");
            Finish(r);
          });
}

void PortalClient::Finish(PortalResult result) {
  result.started = result.started || started_;
  if (result.started && result.restoreToken.isEmpty()) result.restoreToken = newToken_;
  timeout_.stop();
  Unwatch();
  const bool ok = result.ok;
  step_ = Step::Idle;
  if (!ok) Close();
  if (auto done = std::exchange(done_, nullptr)) {
    done(std::move(result));
  } else if (result.eisFd >= 0) {
    ::close(result.eisFd);
  }
}

void PortalClient::OnSessionClosed(const QVariantMap&) {
  if (session_.isEmpty()) return;
  bus_.disconnect(kService, session_, kSession, QStringLiteral("Closed"), this,
                  SLOT(OnSessionClosed(QVariantMap)));
  session_.clear();
  if (step_ != Step::Idle) {
    PortalResult r;
    r.why = QStringLiteral("the desktop closed the remote input session");
    Finish(r);
    return;
  }
  if (closed) closed();
}

void PortalClient::Close() {
  timeout_.stop();
  Unwatch();
  step_ = Step::Idle;
  if (session_.isEmpty()) return;
  bus_.disconnect(kService, session_, kSession, QStringLiteral("Closed"), this,
                  SLOT(OnSessionClosed(QVariantMap)));
  QDBusMessage m =
      QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close"));
  bus_.asyncCall(m);
  session_.clear();
}

}  // namespace vesk::wayland
