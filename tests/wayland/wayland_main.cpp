// Test main for replay on a Wayland session: a private Xvfb stands in for
// Xwayland, the environment says Wayland, and each test brings its own fake
// desktop (portal and emulated-input server) on the session bus that
// dbus-run-session provides.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "x_session.h"

namespace {

class WaylandEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    xvfb_ = std::make_unique<vesk::testing::Xvfb>();
    setenv("WAYLAND_DISPLAY", "wayland-vesk-test", 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    qputenv("QT_QPA_PLATFORM", "xcb");
    static int argc = 1;
    static char name[] = "vesk_wayland_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    app_.reset();
    xvfb_.reset();
  }

 private:
  std::unique_ptr<vesk::testing::Xvfb> xvfb_;
  std::unique_ptr<QApplication> app_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new WaylandEnvironment);
  return RUN_ALL_TESTS();
}
