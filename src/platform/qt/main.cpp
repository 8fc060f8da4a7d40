// The Linux program: the recorder on Qt windows with the X server's input
// or, on a Wayland session, the Wayland input path. The command line is read
// first: `check`, `text` and `journal` never start the window system.
#include <QApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <utility>

#include "app/command_line.h"
#include "app/recorder_app.h"
#include "platform/qt/display_probe.h"
#include "platform/qt/qt_backend.h"

namespace {

int g_signalFd = -1;

// Only what is safe in a signal handler: a flag and a byte into a pipe the
// event loop watches; the work happens on the user-interface thread.
void OnSignal(int) {
  vesk::NoteSignal();
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(g_signalFd, &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  const vesk::Invocation invocation = vesk::HandleCommandLine(argc, argv, std::cout, std::cerr);
  if (!invocation.startProgram) return invocation.exitStatus;
  if (invocation.play) {
    const std::string why = vesk::qt::ProbeDisplay();
    if (!why.empty()) {
      std::cerr << "vesk: " << why << ": no way to send input here\n";
      return vesk::kExitNoInput;
    }
  }
  // Windows stay on X11 (Xwayland in a Wayland session): stays-on-top,
  // opacity and click-through need it, and input goes through the X server.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  // A file that reaches its size limit fails its write (the recording then
  // goes on in memory) instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  // Qt reads options of its own from the command line: it gets only the
  // program's name, so that nothing of `vesk play` is taken for one.
  static int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QStringLiteral("Vesk"));
  // Windows come and go inside nested modal runs; the program decides when it ends.
  QApplication::setQuitOnLastWindowClosed(false);

  // A `vesk play` run ends on SIGINT or SIGTERM with held input released.
  int fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> signalWatch;
  if (invocation.play && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
    g_signalFd = fds[1];
    signalWatch = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    QObject::connect(signalWatch.get(), &QSocketNotifier::activated, [fd = fds[0]] {
      char buf[16];
      [[maybe_unused]] const ssize_t n = read(fd, buf, sizeof buf);
      vesk::EndBySignal();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }

  // The input path: chosen here, once, from the session; its start-up notes
  // say which and why.
  vesk::qt::LinuxInput input = vesk::qt::ChooseLinuxInput();
  vesk::qt::QtBackend backend(std::move(input));
  return vesk::RunProgramOn(backend, invocation, std::cerr);
}
