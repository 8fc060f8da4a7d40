// The contract's desk on the simulated desktop: the program's code runs on
// its user-interface thread inside a hidden window's modal run, time is
// the virtual clock.
#include "common/recording_sink.h"
#include "contract/desk.h"
#include "platform/sim/sim_desktop.h"

namespace vesk::testing {
namespace {

class SimDesk : public Desk {
 public:
  SimDesk() {
    sim_.Start([this] {
      RecordingSink quiet;
      host_ = sim_.CreateDialogWindow(*FindDialogTemplate(kProxyDialogTemplate), 0, &quiet);
      sim_.RunModalLoop(host_);
      sim_.DestroyWindow(host_);
    });
  }
  ~SimDesk() override {
    sim_.Do([this] { sim_.EndModalLoop(host_, 0); });
  }

  Backend& backend() override { return sim_; }
  void OnUi(const std::function<void()>& fn) override { sim_.Do(fn); }
  bool WaitFor(const std::function<bool()>& done) override {
    sim_.Settle();
    for (int ms = 0; ms < 10'000 && !done(); ++ms) sim_.Advance(1);
    return done();
  }
  void Idle() override { sim_.Advance(100); }
  void UserMove(int x, int y) override { sim_.MouseMove(x, y); }
  void UserKeyA(bool down) override {
    if (down) {
      sim_.KeyDown(0x41, 0x1E);
    } else {
      sim_.KeyUp(0x41, 0x1E);
    }
  }
  void Pointer(int* x, int* y) override {
    *x = *y = -1;
    for (const auto& in : sim_.Injected()) {
      if (in.event.message >= WM_MOUSEMOVE && in.event.message <= WM_MOUSEWHEEL) {
        *x = static_cast<int>(in.event.paramL);
        *y = static_cast<int>(in.event.paramH);
      }
    }
  }

 private:
  sim::SimDesktop sim_;
  WindowId host_ = 0;
};

}  // namespace

std::unique_ptr<Desk> MakeDesk() { return std::make_unique<SimDesk>(); }

}  // namespace vesk::testing
