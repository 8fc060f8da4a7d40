// The Linux program: the recorder on Qt windows with the X server's input
// or, on a Wayland session, the Wayland input path.
#include <QApplication>

#include <utility>

#include "app/recorder_app.h"
#include "platform/qt/qt_backend.h"

int main(int argc, char** argv) {
  // Windows stay on X11 (Xwayland in a Wayland session): stays-on-top,
  // opacity and click-through need it, and input goes through the X server.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vesk"));
  // Windows come and go inside nested modal runs; the program decides when it ends.
  QApplication::setQuitOnLastWindowClosed(false);
  // The input path: chosen here, once, from the session; its start-up notes
  // say which and why.
  vesk::qt::LinuxInput input = vesk::qt::ChooseLinuxInput();
  vesk::qt::QtBackend backend(std::move(input));
  vesk::InstallBackend(&backend);
  const int code = vesk::RunProgram();
  vesk::InstallBackend(nullptr);
  return code;
}
