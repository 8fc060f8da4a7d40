// The Linux program: the recorder on Qt windows and the X server's input.
#include <QApplication>

#include "app/recorder_app.h"
#include "platform/x11/qt_backend.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vesk"));
  // Windows come and go inside nested modal runs; the program decides when it ends.
  QApplication::setQuitOnLastWindowClosed(false);
  // The core's process-wide objects reach the backend while static objects
  // are destroyed at exit, so it is never destroyed: the process ending
  // releases its connections, grabs and locks.
  auto* backend = new vesk::x11::QtBackend;
  vesk::InstallBackend(backend);
  return vesk::RunProgram();
}
