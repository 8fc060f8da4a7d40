// The contract's desk on a Wayland session: the Linux backend with the
// desktop's remote input for replay, played into the fake desktop, while
// capture still sees the X server's programs.
#include "fake_desktop.h"
#include "test_files.h"

// After the test framework: Xlib's macros would break it.
#include "contract/qt_desk.h"

namespace vesk::testing {
namespace {

// Made before the backend, which looks for the desktop when it starts.
struct WaylandSession {
  TempDir dir;  // the restore token goes into the working folder
  FakeDesktop desktop{{}};
};

class WaylandDesk : private WaylandSession, public QtDesk {
 public:
  // Where the desktop put the pointer: the last position it received.
  void Pointer(int* x, int* y) override {
    *x = *y = -1;
    for (const Received& r : desktop.Got()) {
      if (r.kind == Received::Kind::Move) {
        *x = static_cast<int>(r.x);
        *y = static_cast<int>(r.y);
      }
    }
  }
};

}  // namespace

std::unique_ptr<Desk> MakeDesk() { return std::make_unique<WaylandDesk>(); }

}  // namespace vesk::testing
