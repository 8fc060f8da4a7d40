// Starting and stopping the world's desktops, and granting KDE's permission.
#include "desktop_world.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include "spawn_program.h"
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

DesktopWorld::DesktopWorld(std::string desktop, const std::string& size)
    : desktop_(std::move(desktop)) {
  // Where scripts/desktop-world puts the root (it honours the same variable).
  const char* chosen = std::getenv("VESK_DESKTOP_ROOT");
  root_ = chosen != nullptr && *chosen != '\0'
              ? std::string(chosen)
              : std::string(VESK_SOURCE_DIR) + "/build/desktop-root";
  int status = 0;
  const std::string out = Run("VESK_DESKTOP_SIZE=" + size + " " + std::string(VESK_SOURCE_DIR) +
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
  if (!Bus().isConnected()) {
    failure_ = "cannot join the " + desktop_ + " session bus";
  } else if (desktop_ == "gnome") {
    failure_ = OpenGnomeSeat();
  }
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
  if (clientPid_ > 0 && ::kill(clientPid_, 0) == 0) return true;  // one for the suite
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

bool DesktopWorld::GrantKdePermission(bool allow) {
  QDBusMessage m =
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
                                     QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
                                     QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
                                     QStringLiteral("SetPermission"));
  m << QStringLiteral("kde-authorized") << true << QStringLiteral("remote-desktop") << QString()
    << QStringList{allow ? QStringLiteral("yes") : QStringLiteral("no")};
  return Bus().call(m, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
}

namespace {

// Evdev key codes the dialog's keys are pressed with.
constexpr unsigned kLeftShift = 42, kLeftAlt = 56, kKeyI = 23, kKeyS = 31, kKeyC = 46, kEscape = 1,
                   kF4 = 62;
// The compositor's log line when the dialog's window takes the keyboard.
constexpr const char* kDialogFocused = "* Focus --> ";
constexpr const char* kDialogGone = "unmanaging W";
constexpr const char* kDialogTitle = "(Remote Desktop)";

QDBusMessage MutterCall(const QString& path, const QString& method, const QVariantList& args) {
  QDBusMessage m =
      QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Mutter.RemoteDesktop"), path,
                                     path.endsWith(QStringLiteral("RemoteDesktop"))
                                         ? QStringLiteral("org.gnome.Mutter.RemoteDesktop")
                                         : QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"),
                                     method);
  m.setArguments(args);
  return m;
}

}  // namespace

std::string DesktopWorld::GnomeCall(const QString& method, const QVariantList& args) {
  const QDBusMessage r = Bus().call(MutterCall(seat_, method, args), QDBus::Block, 10000);
  if (r.type() != QDBusMessage::ReplyMessage) {
    return method.toStdString() + ": " + r.errorMessage().toStdString();
  }
  if (method == QStringLiteral("CreateSession") && !r.arguments().isEmpty()) {
    seat_ = qvariant_cast<QDBusObjectPath>(r.arguments().at(0)).path();
  }
  return {};
}

// The seat's keyboard and pointer are a remote-desktop session of the
// compositor's own, held for the world's life, as a desktop has its own
// devices: a seat that gains a device only when input is due loses the
// first events while its clients bind it. The compositor makes each device
// at its first event, so Shift is tapped and the pointer moved at once.
std::string DesktopWorld::OpenGnomeSeat() {
  seat_ = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
  std::string why = GnomeCall(QStringLiteral("CreateSession"));
  if (why.empty()) why = GnomeCall(QStringLiteral("Start"));
  for (const bool down : {true, false}) {
    if (why.empty()) why = GnomeCall(QStringLiteral("NotifyKeyboardKeycode"), {kLeftShift, down});
  }
  // The pointer to the middle of the first monitor (800x600 unless the
  // suite says otherwise), where the client's window opens.
  if (why.empty() && !PointGnomePointerAt(400, 300)) why = "the pointer did not move";
  return why.empty() ? why : "no devices of the compositor's own: " + why;
}

bool DesktopWorld::PointGnomePointerAt(double x, double y) {
  // Relative moves only (absolute ones need a screen cast): to the top
  // left corner, where the layout stops it, then out to (x, y).
  return GnomeCall(QStringLiteral("NotifyPointerMotionRelative"), {-1e5, -1e5}).empty() &&
         GnomeCall(QStringLiteral("NotifyPointerMotionRelative"), {x, y}).empty();
}

bool DesktopWorld::EndService(const QString& name) {
  const QDBusMessage r = Bus().call(
      QDBusMessage::createMethodCall(
          QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
          QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"))
          << name,
      QDBus::Block, 5000);
  if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return false;
  const auto pid = static_cast<pid_t>(r.arguments().at(0).toUInt());
  return pid > 1 && ::kill(pid, SIGTERM) == 0;
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
          " QT_QPA_PLATFORM=wayland GSETTINGS_BACKEND=keyfile DBUS_SESSION_BUS_ADDRESS='" + bus +
          "' " + command + " 2>&1",
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

bool DesktopWorld::SetGnomeMonitors(const std::string& layout) {
  return RunInSession("gdctl set " + layout);
}

bool DesktopWorld::SetGnomeScale(double scale) {
  char arg[32];
  std::snprintf(arg, sizeof arg, "%g", scale);
  return SetGnomeMonitors(std::string("--logical-monitor --primary --monitor Meta-0 --scale ") +
                          arg);
}

bool DesktopWorld::SetXwaylandNativeScaling(bool on) {
  return RunInSession(
      std::string(
          "gsettings set org.gnome.mutter experimental-features \"['scale-monitor-framebuffer'") +
      (on ? ", 'xwayland-native-scaling'" : "") + "]\"");
}

bool DesktopWorld::XRootSize(int* width, int* height) const {
  int status = -1;
  const std::string out = Run("DISPLAY=" + Env("DISPLAY") + " XAUTHORITY=" + Env("XAUTHORITY") +
                                  " xdpyinfo 2>/dev/null | grep dimensions:",
                              &status);
  return std::sscanf(out.c_str(), " dimensions: %dx%d", width, height) == 2;
}

int DesktopWorld::GnomeDialogs(const char* event) const {
  int count = 0;
  std::istringstream in(CompositorLog());
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(event) != std::string::npos && line.find(kDialogTitle) != std::string::npos) {
      ++count;
    }
  }
  return count;
}

int DesktopWorld::GnomeDialogsShown() const { return GnomeDialogs(kDialogFocused); }

std::string DesktopWorld::AnswerGnomeDialog(Answer answer, int thinkMs, int waitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  // Until `done`, pumping this process's events: the portal request that
  // shows the dialog and takes its answer goes on meanwhile.
  auto until = [&](const std::function<bool()>& done, int limitMs) {
    const auto stop =
        std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs));
    while (!done()) {
      if (std::chrono::steady_clock::now() > stop) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  };
  // The dialog shown after the last one answered, with the keyboard: keys
  // sent after its focus reach it.
  const int answered = dialogsAnswered_;
  if (!until([&] { return GnomeDialogsShown() > answered; }, waitMs)) {
    return "the dialog never took the keyboard";
  }
  ++dialogsAnswered_;
  const auto thought = std::chrono::steady_clock::now() + std::chrono::milliseconds(thinkMs);
  until([&] { return std::chrono::steady_clock::now() >= thought; }, thinkMs + 100);
  std::string why;
  auto key = [&](unsigned code, bool down) {
    if (why.empty()) why = GnomeCall(QStringLiteral("NotifyKeyboardKeycode"), {code, down});
  };
  auto chord = [&](unsigned modifier, unsigned code) {
    if (modifier != 0) key(modifier, true);
    key(code, true);
    key(code, false);
    if (modifier != 0) key(modifier, false);
  };
  // "Allow Remote Interaction" is a switch that takes its new state only
  // when its slide has finished, and Share stays insensitive until then:
  // the answer's key is pressed until the window goes (once it has, a
  // press would reach whatever has the keyboard next).
  if (answer == Answer::Share) chord(kLeftAlt, kKeyI);
  const unsigned modifier = answer == Answer::Close ? 0 : kLeftAlt;
  const unsigned code = answer == Answer::Share    ? kKeyS
                        : answer == Answer::Cancel ? kKeyC
                        : answer == Answer::Close  ? kEscape
                                                   : kF4;
  auto gone = [&] { return GnomeDialogs(kDialogGone) >= dialogsAnswered_; };
  while (why.empty() && !gone()) {
    chord(modifier, code);
    if (!until(gone, 150) && std::chrono::steady_clock::now() > end) {
      return "the dialog stayed after its answer";
    }
  }
  return why;
}

int DesktopWorld::PlayProgram(const std::string& dir, const std::string& journal,
                              const std::function<void()>& meanwhile) const {
  Spawn spawn{VESK_PROGRAM, dir, dir + "/vesk.log", {"play", "--countdown", "0", journal}};
  for (const char* key : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                          "DBUS_SESSION_BUS_ADDRESS"}) {
    spawn.env.push_back(std::string(key) + "=" + Env(key));
  }
  spawn.env.insert(spawn.env.end(), {"XDG_SESSION_TYPE=wayland", "QT_QPA_PLATFORM=xcb",
                                     "LD_LIBRARY_PATH=" VESK_LIBEI_LIBDIR});
  spawn.append = true;
  const pid_t pid = SpawnProgram(spawn);
  if (pid == 0) return -1;
  meanwhile();
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace vesk::testing
