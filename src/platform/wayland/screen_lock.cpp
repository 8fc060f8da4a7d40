// Screen lock state from logind and the desktop's screen saver interface.
#include "platform/wayland/screen_lock.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <unistd.h>

namespace vesk::wayland {
namespace {

struct Saver {
  const char* service;
  const char* path;
  const char* iface;
};
constexpr Saver kSavers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
};
const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QDBusMessage Ask(const QDBusConnection& bus, QDBusMessage m, int timeoutMs) {
  // A screen saver that is not running is not started to be asked.
  m.setAutoStartService(false);
  return bus.call(m, QDBus::Block, timeoutMs);
}

bool ReplyTrue(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  QVariant v = reply.arguments().first();
  if (v.canConvert<QDBusVariant>()) v = v.value<QDBusVariant>().variant();
  return v.toBool();
}

}  // namespace

ScreenLock::ScreenLock(QDBusConnection session, QDBusConnection system)
    : session_(std::move(session)), system_(std::move(system)) {
  if (session_.isConnected()) {
    for (const Saver& s : kSavers) {
      session_.connect(QString(), QString::fromLatin1(s.path), QString::fromLatin1(s.iface),
                       QStringLiteral("ActiveChanged"), this, SLOT(OnActiveChanged(bool)));
    }
  }
  if (system_.isConnected()) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        kLogin1, QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSessionByPID"));
    m << static_cast<uint>(::getpid());
    const QDBusMessage reply = Ask(system_, m, 500);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
      sessionPath_ = reply.arguments().first().value<QDBusObjectPath>().path();
      system_.connect(kLogin1, sessionPath_, kProperties, QStringLiteral("PropertiesChanged"), this,
                      SLOT(OnLogindChanged(QString, QVariantMap, QStringList)));
    }
  }
}

bool ScreenLock::Locked(int timeoutMs) {
  if (!sessionPath_.isEmpty()) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(kLogin1, sessionPath_, kProperties, QStringLiteral("Get"));
    m << QStringLiteral("org.freedesktop.login1.Session") << QStringLiteral("LockedHint");
    if (ReplyTrue(Ask(system_, m, timeoutMs))) return true;
  }
  if (!session_.isConnected()) return false;
  for (const Saver& s : kSavers) {
    const QDBusMessage m =
        QDBusMessage::createMethodCall(QString::fromLatin1(s.service), QString::fromLatin1(s.path),
                                       QString::fromLatin1(s.iface), QStringLiteral("GetActive"));
    if (ReplyTrue(Ask(session_, m, timeoutMs))) return true;
  }
  return false;
}

void ScreenLock::OnActiveChanged(bool active) {
  if (changed) changed(active);
}

void ScreenLock::OnLogindChanged(const QString&, const QVariantMap& props, const QStringList&) {
  const auto it = props.find(QStringLiteral("LockedHint"));
  if (it != props.end() && changed) changed(it.value().toBool());
}

}  // namespace vesk::wayland
