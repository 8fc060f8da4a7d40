// The contract's desk on a Wayland session: Qt with the desktop's remote
// input for replay, played into the fake desktop, while capture still sees
// the X server's programs (a user typing through XTEST).
#include <QCoreApplication>

#include "contract/desk.h"
#include "fake_desktop.h"
#include "platform/qt/qt_backend.h"
#include "test_files.h"
#include "x_session.h"

namespace vesk::testing {
namespace {

void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

class WaylandDesk : public Desk {
 public:
  Backend& backend() override { return backend_; }
  void OnUi(const std::function<void()>& fn) override { fn(); }
  bool WaitFor(const std::function<bool()>& done) override {
    return testing::WaitFor(done, Pump, std::chrono::milliseconds(10'000));
  }
  void Idle() override {
    testing::WaitFor([] { return false; }, Pump, std::chrono::milliseconds(200));
  }
  void UserMove(int x, int y) override { user_.Move(x, y); }
  void UserKeyA(bool down) override { user_.Key(kKeyA, down); }
  // Where the desktop put the pointer: the last position it received.
  void Pointer(int* x, int* y) override {
    *x = *y = -1;
    for (const Received& r : desktop_.Got()) {
      if (r.kind == Received::Kind::Move) {
        *x = static_cast<int>(r.x);
        *y = static_cast<int>(r.y);
      }
    }
  }

 private:
  TempDir dir_;  // the restore token goes into the working folder
  FakeDesktop desktop_{{}};
  qt::QtBackend backend_;
  FakeInput user_;
};

}  // namespace

std::unique_ptr<Desk> MakeDesk() { return std::make_unique<WaylandDesk>(); }

}  // namespace vesk::testing
