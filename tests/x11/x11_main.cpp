// Test main for the tests that need an X server: each test process runs
// its own Xvfb and one QApplication on it. Listing the tests needs neither.
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

#include "x_session.h"

namespace {

class XEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    xvfb_ = std::make_unique<vesk::testing::Xvfb>();
    qputenv("QT_QPA_PLATFORM", "xcb");
    static int argc = 1;
    static char name[] = "vesk_x11_tests";
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
