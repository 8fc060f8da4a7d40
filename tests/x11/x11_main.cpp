// Test main for the tests that need an X server: each test process runs
// its own Xvfb and one QApplication on it. Listing the tests needs neither.
// Built with VESK_TEST_WAYLAND_SESSION, the environment says Wayland and the
// Xvfb stands in for Xwayland (each test brings its own fake desktop on the
// session bus that dbus-run-session provides).
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "x_session.h"

namespace {

class XEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    xvfb_ = std::make_unique<vesk::testing::Xvfb>();
#ifdef VESK_TEST_WAYLAND_SESSION
    setenv("WAYLAND_DISPLAY", "wayland-vesk-test", 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
#endif
    qputenv("QT_QPA_PLATFORM", "xcb");
    static int argc = 1;
    static char name[] = "vesk_tests";
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
  ::testing::AddGlobalTestEnvironment(new XEnvironment);
  return RUN_ALL_TESTS();
}
