// Vesk in a real Wayland session (weston with Xwayland, no GPU):
// what it says at start-up, and that recording and replay of an X11
// program's input through Xwayland still work. No portal runs here, so
// replay takes the XTEST path and says why.
#include <QApplication>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/qt/qt_backend.h"
#include "program_driver.h"
#include "spawn_program.h"
#include "storage/journal.h"
#include "storage/settings.h"
#include "weston_session.h"

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;

Weston* g_weston = nullptr;

// The user's hand on the session's mouse: the pointer goes over (x, y) of
// the desktop, so that the window there has the compositor's pointer focus.
void HandOver(int x, int y) {
  Display* hw = XOpenDisplay(g_weston->hardware().c_str());
  ASSERT_NE(hw, nullptr);
  XTestFakeMotionEvent(hw, -1, x, y, CurrentTime);
  XSync(hw, False);
  XCloseDisplay(hw);
}

// The user's click on the session's mouse at (x, y).
void HandClick(int x, int y) {
  Display* hw = XOpenDisplay(g_weston->hardware().c_str());
  ASSERT_NE(hw, nullptr);
  XTestFakeMotionEvent(hw, -1, x, y, CurrentTime);
  XTestFakeButtonEvent(hw, 1, True, CurrentTime);
  XTestFakeButtonEvent(hw, 1, False, CurrentTime);
  XSync(hw, False);
  XCloseDisplay(hw);
}

// An ordinary X11 program's window: the compositor places it, frames it
// and gives it the keyboard when the user clicks it (it says it takes
// keyboard input, as toolkits do).
class ManagedWindow {
 public:
  ManagedWindow(int width, int height) : dpy_(XOpenDisplay(nullptr)) {
    XSetWindowAttributes a{};
    a.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                   PointerMotionMask | StructureNotifyMask;
    a.background_pixel = WhitePixel(dpy_, DefaultScreen(dpy_));
    window_ = XCreateWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWEventMask | CWBackPixel, &a);
    XStoreName(dpy_, window_, "target");
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(dpy_, window_, &hints);
    XMapWindow(dpy_, window_);
    XSync(dpy_, False);
    XEvent ev;
    do {
      XWindowEvent(dpy_, window_, StructureNotifyMask, &ev);
    } while (ev.type != MapNotify);
  }
  ~ManagedWindow() {
    XDestroyWindow(dpy_, window_);
    XCloseDisplay(dpy_);
  }
  ManagedWindow(const ManagedWindow&) = delete;
  ManagedWindow& operator=(const ManagedWindow&) = delete;

  void Pump() {
    while (XPending(dpy_) > 0) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      if (ev.type == KeyPress || ev.type == KeyRelease) {
        got.push_back({ev.type, ev.xkey.keycode, ev.xkey.x_root, ev.xkey.y_root, ev.xkey.time});
      } else if (ev.type == ButtonPress || ev.type == ButtonRelease) {
        got.push_back(
            {ev.type, ev.xbutton.button, ev.xbutton.x_root, ev.xbutton.y_root, ev.xbutton.time});
      }
    }
  }
  // Where it is on the screen.
  void Rect(int* x, int* y, int* width, int* height) {
    XWindowAttributes a{};
    XGetWindowAttributes(dpy_, window_, &a);
    Window child = 0;
    XTranslateCoordinates(dpy_, window_, DefaultRootWindow(dpy_), 0, 0, x, y, &child);
    *width = a.width;
    *height = a.height;
  }
  Window id() const { return window_; }
  std::vector<ReceivedInput> got;

 private:
  Display* dpy_;
  Window window_ = 0;
};

class WestonEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    unsetenv("XDG_SESSION_TYPE");
    unsetenv("QT_QPA_PLATFORM");
    hardware_ = std::make_unique<Xvfb>();
    weston_ = std::make_unique<Weston>(hardware_->display());
    g_weston = weston_.get();
    static int argc = 1;
    static char name[] = "vesk_weston_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "xcb");  // this process only; the program picks it itself
    app_ = std::make_unique<QApplication>(argc, argv);
    unsetenv("QT_QPA_PLATFORM");
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    app_.reset();
    weston_.reset();
    hardware_.reset();
  }

 private:
  std::unique_ptr<Xvfb> hardware_;
  std::unique_ptr<Weston> weston_;
  std::unique_ptr<QApplication> app_;
};

std::vector<EVENTMSG> g_recorded;
LResult RecordProc(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return 0;
}

void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

TEST(WestonSession, TheBackendSaysWhatWorksAndRecordsAnX11ProgramThroughXwayland) {
  qt::QtBackend backend;
  const auto notes = backend.StartupNotes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0], "Wayland session: recording sees X11 programs only.");
  EXPECT_NE(notes[1].find("XTEST through Xwayland"), std::string::npos) << notes[1];

  TargetWindow target(40, 40, 200, 150);
  HandOver(100, 90);
  FakeInput user;
  user.Move(5, 5);
  user.FocusFollowsPointer();
  const HookHandle hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc);
  ASSERT_NE(hook, 0u) << "RECORD on Xwayland";
  g_recorded.clear();
  user.Move(100, 90);
  user.Click(100, 90);
  user.Key(kKeyA, true);
  user.Key(kKeyA, false);
  ASSERT_TRUE(WaitFor(
      [] {
        return std::count_if(g_recorded.begin(), g_recorded.end(),
                             [](const EVENTMSG& e) { return e.message == WM_KEYUP; }) > 0;
      },
      Pump))
      << g_weston->Log();
  backend.UnhookWindowsHookEx(hook);
  std::vector<EVENTMSG> input;  // all but moves
  bool moved = false;
  for (const auto& e : g_recorded) {
    if (e.message != WM_MOUSEMOVE) input.push_back(e);
    moved = moved || (e.message == WM_MOUSEMOVE && e.paramL == 100 && e.paramH == 90);
  }
  EXPECT_TRUE(moved);
  ASSERT_EQ(input.size(), 4u);
  EXPECT_EQ(input[0].message, WM_LBUTTONDOWN);
  EXPECT_EQ(input[0].paramL, 100u);
  EXPECT_EQ(input[0].paramH, 90u);
  EXPECT_EQ(input[1].message, WM_LBUTTONUP);
  EXPECT_EQ(input[2].message, WM_KEYDOWN);
  EXPECT_EQ(input[2].paramL, 0x1E41u);
  EXPECT_EQ(input[3].message, WM_KEYUP);
}

TEST(WestonSession, TheProgramReplaysAScheduledRunIntoAnX11Window) {
  XSetErrorHandler(&IgnoreXErrors);
  const fs::path dir = fs::temp_directory_path() / ("vesk-weston-run-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  VeskSettings settings;
  settings.repeatCount = 1;
  settings.playAtStartup = 1;
  settings.playAtRecordedSpeed = 1;
  settings.defaultJournalPath = "run.alg";
  std::ofstream(dir / kSettingsFileName, std::ios::binary) << settings.Serialize();

  // An X11 program the user works in.
  ManagedWindow target(900, 650);
  FakeInput user;

  const std::string log = (dir / "vesk.log").string();
  const pid_t pid = SpawnProgram({VESK_PROGRAM, dir.string(), log});
  ASSERT_NE(pid, 0);
  auto readLog = [&] {
    std::ifstream in(log);
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  };

  // The compositor places both windows itself, and Xwayland gives X input
  // only to the X window the compositor's pointer is over: the user clicks
  // the target where the program's window leaves it free (which also gives
  // it the keyboard), and the journal plays there. The run reads its journal after a ten-second
  // notice: written now, it is in time.
  Window main = 0;
  ASSERT_TRUE(WaitFor([&] { return (main = FindTitled(user.dpy(), "STOPPED - (Vesk)")) != 0; },
                      [&] { target.Pump(); }, std::chrono::milliseconds(8000)))
      << readLog();
  XWindowAttributes a{};
  int mx = 0, my = 0;
  Window child = 0;
  ASSERT_NE(XGetWindowAttributes(user.dpy(), main, &a), 0);
  XTranslateCoordinates(user.dpy(), main, DefaultRootWindow(user.dpy()), 0, 0, &mx, &my, &child);
  // Placed once the compositor has framed it.
  int tx = 0, ty = 0, tw = 0, th = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        target.Rect(&tx, &ty, &tw, &th);
        return tx != 0 || ty != 0;
      },
      [&] { target.Pump(); }));
  constexpr int kFrame = 40;  // title bar and borders
  // The free spot of the target farthest from the program's window.
  int px = -1, py = -1;
  long best = -1;
  const int cx = mx + a.width / 2, cy = my + a.height / 2;
  for (int y = ty + 10; y + 50 < ty + th; y += 50) {
    for (int x = tx + 10; x + 50 < tx + tw; x += 50) {
      const bool covered = x + 50 >= mx - kFrame && x <= mx + a.width + kFrame &&
                           y + 50 >= my - kFrame && y <= my + a.height + kFrame;
      const bool onScreen = x + 50 < Weston::kWidth && y + 50 < Weston::kHeight;
      const long d = long{x - cx} * (x - cx) + long{y - cy} * (y - cy);
      if (!covered && onScreen && d > best) {
        best = d;
        px = x;
        py = y;
      }
    }
  }
  ASSERT_GE(px, 0) << "the program's window covers the target";
  HandClick(px, py);
  ASSERT_TRUE(WaitFor([&] { return target.got.size() >= 2; }, [&] { target.Pump(); }))
      << "target at " << tx << "," << ty << ", clicked at " << px << "," << py;
  target.got.clear();
  Journal journal;
  auto entry = [](std::uint32_t m, std::uint32_t l, std::uint32_t h) {
    return JournalEntry{1, EVENTMSG{m, l, h, 30, 0}};
  };
  const auto x = static_cast<std::uint32_t>(px), y = static_cast<std::uint32_t>(py);
  journal.Append(entry(WM_MOUSEMOVE, x + 20, y + 10));
  journal.Append(entry(WM_LBUTTONDOWN, x + 30, y + 20));
  journal.Append(entry(WM_LBUTTONUP, x + 30, y + 20));
  journal.Append(entry(WM_KEYDOWN, 0x1E41, 1));
  journal.Append(entry(WM_KEYUP, 0x1E41, 1));
  journal.Append(entry(WM_MOUSEMOVE, x + 40, y + 30));  // handed over, never replayed
  std::ofstream(dir / "run.alg", std::ios::binary) << EncodeJournal(journal);

  int status = 0;
  const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                             [&] { target.Pump(); }, std::chrono::milliseconds(60000));
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  ASSERT_TRUE(ended) << readLog();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readLog();
  target.Pump();
  const std::string text = readLog();
  EXPECT_NE(text.find("Wayland session: recording sees X11 programs only."), std::string::npos)
      << text;
  EXPECT_NE(text.find("Replay: XTEST through Xwayland"), std::string::npos) << text;
  // The pointer's part reaches the X11 program. Keys go where the X focus
  // is, and the compositor hands the keyboard to the program's own window
  // when playback begins (see the README's known limits).
  std::vector<std::pair<int, unsigned>> got;
  for (const auto& r : target.got) {
    if (r.type == ButtonPress || r.type == ButtonRelease) got.emplace_back(r.type, r.detail);
  }
  const std::vector<std::pair<int, unsigned>> expected{{ButtonPress, 1}, {ButtonRelease, 1}};
  EXPECT_EQ(got, expected) << text << "program window at " << mx << "," << my << " " << a.width
                           << "x" << a.height << ", target at " << tx << "," << ty << ", played at "
                           << px << "," << py << ", target got " << target.got.size();
  if (!target.got.empty()) {
    EXPECT_EQ(target.got[0].x_root, px + 30);
    EXPECT_EQ(target.got[0].y_root, py + 20);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace vesk::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new vesk::testing::WestonEnvironment);
  return RUN_ALL_TESTS();
}
