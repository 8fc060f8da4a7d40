// The contract's desk on Windows (under Wine in the tests): the low-level
// hook path, a user at xdotool on the X server Wine draws on, typing into
// an edit window of the test's own.
#include <memory>
#include <string>

#include "contract/desk.h"
#include "platform/win32/system_checks.h"
#include "platform/win32/win32_backend.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

class Win32Desk : public Desk {
 public:
  Backend& backend() override { return backend_; }
  void OnUi(const std::function<void()>& fn) override { fn(); }
  bool WaitFor(const std::function<bool()>& done) override { return PumpUntil(done, 10000); }
  void Idle() override {
    PumpUntil([] { return false; }, 200);
  }
  // xdotool runs on its own: each action waits until Windows has seen it,
  // so that the next one cannot overtake it.
  void UserMove(int x, int y) override {
    Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y));
    PumpUntil(
        [&] {
          POINT p{};
          ::GetCursorPos(&p);
          return p.x == x && p.y == y;
        },
        5000);
  }
  void UserKeyA(bool down) override {
    Xdotool(std::string(down ? "keydown" : "keyup") + " a");
    PumpUntil([&] { return ((::GetAsyncKeyState('A') & 0x8000) != 0) == down; }, 5000);
  }
  void Pointer(int* x, int* y) override {
    POINT p{};
    ::GetCursorPos(&p);
    *x = p.x;
    *y = p.y;
  }

 private:
  win32::Win32Backend backend_{win32::JournalMode::LowLevel};
  TargetEdit target_{100, 100, 500, 200};  // where the user's input lands
};

}  // namespace

std::unique_ptr<Desk> MakeDesk() { return std::make_unique<Win32Desk>(); }

}  // namespace vesk::testing
