// Starting and stopping the world's desktops, and granting KDE's permission.
#include "desktop_world.h"

#include <QDBusMessage>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "test_files.h"

namespace vesk::testing {
namespace {

std::string Run(const std::string& command, int* status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  *status = ::pclose(p);
  return out;
}

}  // namespace

DesktopWorld::DesktopWorld(std::string desktop) : desktop_(std::move(desktop)) {
  // Where scripts/desktop-world puts the root (it honours the same variable).
  const char* chosen = std::getenv("VESK_DESKTOP_ROOT");
  root_ = chosen != nullptr && *chosen != '\0'
              ? std::string(chosen)
              : std::string(VESK_SOURCE_DIR) + "/build/desktop-root";
  int status = 0;
  const std::string out = Run("VESK_DESKTOP_SIZE=800x600 " + std::string(VESK_SOURCE_DIR) +
                                  "/scripts/desktop-world start " + desktop_ + " 2>&1",
                              &status);
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && eq > 0 && line.find(' ') > eq) {
      env_[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  if (status != 0 || env_.count("DBUS_SESSION_BUS_ADDRESS") == 0) {
    failure_ = "the " + desktop_ + " desktop did not start:\n" + out;
    return;
  }
  busName_ = QStringLiteral("desktop-world-%1").arg(QString::fromStdString(desktop_));
  if (!Bus().isConnected()) failure_ = "cannot join the " + desktop_ + " session bus";
}

DesktopWorld::~DesktopWorld() {
  QDBusConnection::disconnectFromBus(busName_);
  if (clientPid_ > 0) {
    ::kill(clientPid_, SIGTERM);
    ::waitpid(clientPid_, nullptr, 0);
  }
  int status = 0;
  Run(std::string(VESK_SOURCE_DIR) + "/scripts/desktop-world stop " + desktop_ + " 2>&1", &status);
}

std::string DesktopWorld::Env(const std::string& key) const {
  const auto it = env_.find(key);
  return it != env_.end() ? it->second : std::string();
}

QDBusConnection DesktopWorld::Bus() const {
  return QDBusConnection::connectToBus(QString::fromStdString(Env("DBUS_SESSION_BUS_ADDRESS")),
                                       busName_);
}

bool DesktopWorld::StartClient() {
  const std::string& root = root_;
  clientLog_ = root + "/run/vesk-" + desktop_ + "/client.log";
  const std::string xdg = "XDG_RUNTIME_DIR=/run/vesk-" + desktop_ + "/xdg";
  const std::string wl = "WAYLAND_DISPLAY=" + Env("WAYLAND_DISPLAY");
  clientPid_ = ::fork();
  if (clientPid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int fd = ::open(clientLog_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execlp("chroot", "chroot", root.c_str(), "env", xdg.c_str(), wl.c_str(), "stdbuf", "-oL",
             "wev", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Shown and focused.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ClientLog().find("activated") == std::string::npos) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string DesktopWorld::ClientLog() const { return ReadFile(clientLog_); }

std::string DesktopWorld::CompositorLog() const { return ReadFile(Env("VESK_DESKTOP_LOG")); }

bool DesktopWorld::GrantKdePermission() {
  QDBusMessage m =
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
                                     QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
                                     QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
                                     QStringLiteral("SetPermission"));
  m << QStringLiteral("kde-authorized") << true << QStringLiteral("remote-desktop") << QString()
    << QStringList{QStringLiteral("yes")};
  return Bus().call(m, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
}

bool DesktopWorld::RunInSession(const std::string& command) {
  // The bus address as the session sees it, inside the root.
  std::string bus = Env("DBUS_SESSION_BUS_ADDRESS");
  const auto at = bus.find(root_);
  if (at != std::string::npos) bus.erase(at, root_.size());
  const std::string run = "/run/vesk-" + desktop_;
  int status = -1;
  // Wayland clients among them (kscreen-doctor) need the compositor too.
  Run("chroot " + root_ + " env HOME=" + run + "/home XDG_CONFIG_HOME=" + run +
          "/home/.config XDG_RUNTIME_DIR=" + run +
          "/xdg WAYLAND_DISPLAY=" + Env("WAYLAND_DISPLAY") +
          " QT_QPA_PLATFORM=wayland DBUS_SESSION_BUS_ADDRESS='" + bus + "' " + command + " 2>&1",
      &status);
  return status == 0;
}

void DesktopWorld::WriteConfig(const std::string& name, const std::string& text) const {
  WriteFile(root_ + "/run/vesk-" + desktop_ + "/home/.config/" + name, text);
}

bool DesktopWorld::RunKwinScript(const std::string& js) {
  // KWin reads the file from inside the root; each script needs its own name.
  const std::string name = "vesk-" + std::to_string(++scripts_);
  const std::string inner = "/run/vesk-" + desktop_ + "/" + name + ".js";
  WriteFile(root_ + inner, js);
  QDBusMessage load = QDBusMessage::createMethodCall(
      QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
      QStringLiteral("org.kde.kwin.Scripting"), QStringLiteral("loadScript"));
  load << QString::fromStdString(inner) << QString::fromStdString(name);
  QDBusMessage start = QDBusMessage::createMethodCall(
      QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
      QStringLiteral("org.kde.kwin.Scripting"), QStringLiteral("start"));
  return Bus().call(load, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage &&
         Bus().call(start, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
}

}  // namespace vesk::testing
