// The contract's desk on the Linux backend: Qt windows and X11 input on the
// test process's own X server, a user typing through XTEST.
#pragma once

#include <QCoreApplication>

#include "contract/desk.h"
#include "platform/qt/qt_backend.h"
#include "x_session.h"

namespace vesk::testing {

class QtDesk : public Desk {
 public:
  Backend& backend() override { return backend_; }
  void OnUi(const std::function<void()>& fn) override { fn(); }
  bool WaitFor(const std::function<bool()>& done) override {
    return testing::WaitFor(done, &QtDesk::Pump, std::chrono::milliseconds(10'000));
  }
  void Idle() override {
    testing::WaitFor([] { return false; }, &QtDesk::Pump, std::chrono::milliseconds(200));
  }
  void UserMove(int x, int y) override { user_.Move(x, y); }
  void UserKeyA(bool down) override { user_.Key(kKeyA, down); }
  void Pointer(int* x, int* y) override {
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(user_.dpy(), DefaultRootWindow(user_.dpy()), &root, &child, x, y, &wx, &wy,
                  &mask);
  }

 private:
  static void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

  qt::QtBackend backend_;
  FakeInput user_;
};

}  // namespace vesk::testing
