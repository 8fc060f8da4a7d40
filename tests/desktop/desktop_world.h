// The real desktops of the test world (scripts/desktop-world): a compositor
// with its portal on a private session bus, joined from here through its
// runtime folder, bus address and Xwayland display.
#pragma once

#include <QDBusConnection>
#include <QString>

#include <map>
#include <string>

namespace vesk::testing {

class DesktopWorld {
 public:
  // "gnome" or "kde"; scripts/desktop-world's variables in the environment
  // (VESK_DESKTOP_OUTPUTS) reach it.
  explicit DesktopWorld(std::string desktop);
  ~DesktopWorld();
  DesktopWorld(const DesktopWorld&) = delete;
  DesktopWorld& operator=(const DesktopWorld&) = delete;

  // Empty when the world runs; else why not.
  const std::string& Failure() const { return failure_; }
  const std::string& Name() const { return desktop_; }
  std::string Env(const std::string& key) const;
  QDBusConnection Bus() const;
  std::string CompositorLog() const;

  // Starts the native client (wev) in the session, logging what it
  // receives; false when its window was not shown.
  bool StartClient();
  std::string ClientLog() const;

  // KDE: remote input granted in the portal's permission store, as the
  // user's "Allow" would (its dialog is not shown again).
  bool GrantKdePermission();

  // A command in the session, inside the root; whether it succeeded.
  bool RunInSession(const std::string& command);
  // Writes a file of the session's configuration folder (kdeglobals, ...).
  void WriteConfig(const std::string& name, const std::string& text) const;
  // KDE: runs a script in KWin; what it prints goes to the compositor's log.
  bool RunKwinScript(const std::string& js);

 private:
  std::string desktop_;
  std::map<std::string, std::string> env_;
  std::string failure_;
  QString busName_;
  std::string root_;  // the world's root on this host
  std::string clientLog_;
  int clientPid_ = 0;
  int scripts_ = 0;
};

}  // namespace vesk::testing
