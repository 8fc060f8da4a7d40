// Whether the session's screen is locked, from what the desktop tells over
// D-Bus: logind's LockedHint for this session (system bus) and the screen
// saver interfaces on the session bus (freedesktop's, GNOME's). Neither
// compositor pauses remote input on a lock, and an X11 locker receives XTEST
// input, so the backend asks here before and during playback.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace vesk::wayland {

class ScreenLock : public QObject {
  Q_OBJECT

 public:
  ScreenLock(QDBusConnection session, QDBusConnection system);

  // Asks now (each source at most timeoutMs); true when any says locked.
  bool Locked(int timeoutMs = 500);
  // Called when a source says the screen was locked (true) or unlocked.
  std::function<void(bool locked)> changed;

 private slots:
  void OnActiveChanged(bool active);
  void OnLogindChanged(const QString& iface, const QVariantMap& changed, const QStringList&);

 private:
  QDBusConnection session_;
  QDBusConnection system_;
  QString sessionPath_;  // logind's object for this process's session
};

}  // namespace vesk::wayland
