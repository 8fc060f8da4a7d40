// The desktop's RemoteDesktop portal over D-Bus: a session with a keyboard
// and a pointer, started once the user agrees (or a restore token stands in
// for that), then a socket to the desktop's emulated-input server.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <functional>

namespace vesk::wayland {

inline constexpr unsigned kPortalVersionWithEis = 2;

struct PortalResult {
  bool ok = false;
  int eisFd = -1;              // owned by the receiver when ok
  QString restoreToken;        // a new token to keep; may be empty
  bool refused = false;        // the user said no
  bool tokenRejected = false;  // the portal refused the offered restore token outright
  bool started = false;        // the session started (the offered token was used up)
  bool noEis = false;          // the desktop has no emulated-input connection to give
  QString why;                 // for the log when not ok
};

class PortalClient : public QObject {
  Q_OBJECT

 public:
  explicit PortalClient(QDBusConnection bus, QObject* parent = nullptr);
  ~PortalClient() override;

  // The version of the RemoteDesktop interface, 0 when there is none (why
  // says what was found). Blocks for at most timeoutMs.
  static unsigned ProbeVersion(QDBusConnection bus, int timeoutMs, QString* why);

  // True when the desktop's portal backend is running and its remote-desktop
  // interface has no ConnectToEIS (portals before 1.20 report version 2
  // whatever the backend can do).
  static bool BackendLacksEis(QDBusConnection bus, int timeoutMs);

  // Creates and starts a session; done is called once. consentTimeoutMs
  // bounds the wait for the user's answer.
  void Start(const QString& restoreToken, int consentTimeoutMs,
             std::function<void(PortalResult)> done);
  // Ends the session (if any); no callback runs afterwards.
  void Close();
  bool HasSession() const { return !session_.isEmpty(); }
  // The dialog's parent, as the portal names windows ("x11:<hex id>").
  void SetParentWindow(const QString& handle) { parentWindow_ = handle; }

  // The desktop closed the session after it had started.
  std::function<void()> closed;

 private slots:
  void OnResponse(uint response, const QVariantMap& results);
  void OnSessionClosed(const QVariantMap& details);

 private:
  enum class Step { Idle, Create, Select, Start, Connect };
  QString NextToken();
  QString RequestPath(const QString& token) const;
  void Watch(const QString& path);
  void Unwatch();
  void Call(const QString& method, const QVariantList& args, const QString& token);
  void Finish(PortalResult result);
  void ConnectToEis();

  QDBusConnection bus_;
  Step step_ = Step::Idle;
  QString session_;
  QString watched_;
  QString offeredToken_;
  QString parentWindow_;
  QString newToken_;
  bool started_ = false;
  unsigned tokenCounter_ = 0;
  int consentTimeoutMs_ = 0;
  QTimer timeout_;
  std::function<void(PortalResult)> done_;
};

}  // namespace vesk::wayland
