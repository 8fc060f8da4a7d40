// The whole program on a Wayland session with a desktop that offers remote
// input: a scheduled run plays through the portal and libei, and a run the
// user refuses ends unfinished, with why.
#include <QCoreApplication>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <X11/extensions/shape.h>

#include "fake_desktop.h"
#include "spawn_program.h"
#include "storage/journal.h"
#include "storage/settings.h"
#include "test_files.h"
#include "x_session.h"

#include <X11/Xatom.h>

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;
using K = Received::Kind;

class RemoteProgram : public ::testing::Test {
 protected:
  ~RemoteProgram() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  void WriteRun(std::uint32_t keyUpDelay = 40) {
    VeskSettings settings;
    settings.repeatCount = 1;
    settings.playAtStartup = 1;
    settings.playAtRecordedSpeed = 1;
    settings.defaultJournalPath = "run.alg";
    WriteFile(dir_.File(kSettingsFileName), settings.Serialize());
    Journal journal;
    auto entry = [](std::uint32_t m, std::uint32_t l, std::uint32_t h, std::uint32_t delay) {
      return JournalEntry{1, EVENTMSG{m, l, h, delay, 0}};
    };
    journal.Append(entry(WM_MOUSEMOVE, 300, 200, 20));
    journal.Append(entry(WM_LBUTTONDOWN, 310, 210, 40));
    journal.Append(entry(WM_LBUTTONUP, 310, 210, 40));
    journal.Append(entry(WM_KEYDOWN, 0x1E41, 1, 40));
    journal.Append(entry(WM_KEYUP, 0x1E41, 1, keyUpDelay));
    journal.Append(entry(WM_MOUSEMOVE, 320, 220, 1500));  // time to look at the window
    journal.Append(entry(WM_MOUSEMOVE, 320, 220, 40));    // handed over, never replayed
    WriteFile(dir_.File("run.alg"), EncodeJournal(journal));
  }

  // Starts the program in its working directory.
  bool Start() {
    pid_ = SpawnProgram({VESK_PROGRAM, dir_.path().string(), dir_.File("vesk.log")});
    return pid_ != 0;
  }

  // Its exit status once it ends, or -1 when it does not.
  int Exit() {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                 [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); },
                 std::chrono::milliseconds(40000))) {
      return -1;
    }
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  int Run() { return Start() ? Exit() : -1; }

  std::string Log() const { return ReadFile(dir_.File("vesk.log")); }

  // The program's main window (titled "... (Vesk)..."), or 0.
  static Window MainWindow(Display* dpy) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned n = 0;
    Window main = 0;
    XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n);
    for (unsigned i = 0; i < n && main == 0; ++i) {
      XWindowAttributes a{};
      char* name = nullptr;
      if (XGetWindowAttributes(dpy, children[i], &a) == 0 || a.map_state != IsViewable) continue;
      if (XFetchName(dpy, children[i], &name) != 0 && name != nullptr) {
        if (std::string(name).find("(Vesk)") != std::string::npos) main = children[i];
        XFree(name);
      }
    }
    if (children != nullptr) XFree(children);
    return main;
  }

  // Escape in the main window, as the user closes it.
  static bool PressEscapeInMain() {
    FakeInput user;
    const Window main = MainWindow(user.dpy());
    if (main == 0) return false;
    XWindowAttributes a{};
    XGetWindowAttributes(user.dpy(), main, &a);
    user.Move(a.x + a.width / 2, a.y + 5);
    user.Key(9, true);
    user.Key(9, false);
    return true;
  }

  TempDir dir_;  // the program's working directory
  pid_t pid_ = 0;
};

// The window manager's part in keeping a window above the others: the
// _NET_WM_STATE requests clients send to the root are applied to the
// window's property, which Qt sets itself only on an unmapped window.
class WindowManagerState {
 public:
  WindowManagerState() : dpy_(OpenDisplay()) {
    XSelectInput(dpy_, DefaultRootWindow(dpy_), StructureNotifyMask | SubstructureNotifyMask);
    XSync(dpy_, False);
  }
  ~WindowManagerState() { XCloseDisplay(dpy_); }

  bool KeptAbove(Window w) {
    while (XPending(dpy_) > 0) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      if (ev.type != ClientMessage || ev.xclient.message_type != Intern("_NET_WM_STATE")) continue;
      for (int i = 1; i <= 2; ++i)
        Apply(ev.xclient.window, ev.xclient.data.l[i], ev.xclient.data.l[0]);
    }
    const auto state = State(w);
    return std::find(state.begin(), state.end(), Intern("_NET_WM_STATE_ABOVE")) != state.end();
  }

 private:
  Atom Intern(const char* name) { return XInternAtom(dpy_, name, False); }

  std::vector<Atom> State(Window w) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<Atom> out;
    if (w != 0 &&
        XGetWindowProperty(dpy_, w, Intern("_NET_WM_STATE"), 0, 32, False, XA_ATOM, &type, &format,
                           &n, &after, &data) == Success &&
        format == 32) {
      out.assign(reinterpret_cast<const Atom*>(data), reinterpret_cast<const Atom*>(data) + n);
    }
    if (data != nullptr) XFree(data);
    return out;
  }

  // action: 0 remove, 1 add, 2 toggle.
  void Apply(Window w, long atom, long action) {
    if (atom == 0) return;
    auto state = State(w);
    const bool had = std::erase(state, static_cast<Atom>(atom)) > 0;
    if (action == 1 || (action == 2 && !had)) state.push_back(static_cast<Atom>(atom));
    XChangeProperty(dpy_, w, Intern("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state.data()),
                    static_cast<int>(state.size()));
    XSync(dpy_, False);
  }

  Display* dpy_;
};

// Whether another client can take Ctrl+Break (let go again at once).
bool BreakIsFree(Display* dpy) {
  static bool refused;
  refused = false;
  const auto previous = XSetErrorHandler([](Display*, XErrorEvent* e) {
    refused = refused || e->error_code == BadAccess;
    return 0;
  });
  const Window root = DefaultRootWindow(dpy);
  XGrabKey(dpy, kKeyPause, ControlMask, root, False, GrabModeAsync, GrabModeAsync);
  XSync(dpy, False);
  if (!refused) XUngrabKey(dpy, kKeyPause, ControlMask, root);
  XSync(dpy, False);
  XSetErrorHandler(previous);
  return !refused;
}

TEST_F(RemoteProgram, AScheduledRunPlaysThroughTheDesktopsRemoteInput) {
  FakeDesktop desktop({});
  WriteRun();
  ASSERT_TRUE(Start());
  // Mid-run, the window the dialog belonged to is still the one shown, and
  // replayed clicks pass through it to the windows below.
  ASSERT_TRUE(WaitFor([&] { return desktop.Got().size() >= 5; },
                      [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); },
                      std::chrono::milliseconds(30000)))
      << desktop.Got().size() << " inputs\n"
      << Log();
  {
    FakeInput x;
    const Window parent = std::stoul(desktop.Asked().parentWindow.substr(4), nullptr, 16);
    Window root = 0, up = 0, *children = nullptr;
    unsigned n = 0;
    XQueryTree(x.dpy(), DefaultRootWindow(x.dpy()), &root, &up, &children, &n);
    const bool there = std::find(children, children + n, parent) != children + n;
    XFree(children);
    ASSERT_TRUE(there) << "the dialog's parent was replaced by another window";
    int rects = -1, ordering = 0;
    XFree(XShapeGetRectangles(x.dpy(), parent, ShapeInput, &rects, &ordering));
    EXPECT_EQ(rects, 0) << "the playing window takes clicks";
  }
  ASSERT_EQ(Exit(), 0) << Log();
  const std::string log = Log();
  EXPECT_NE(log.find("Wayland session: recording sees X11 programs only."), std::string::npos)
      << log;
  EXPECT_NE(log.find("Replay: through the desktop's remote input"), std::string::npos) << log;
  const auto got = desktop.Got();
  std::vector<std::tuple<K, std::uint32_t, bool>> input;
  for (const auto& r : got) {
    if (r.kind != K::Move) input.emplace_back(r.kind, r.code, r.press);
  }
  const std::vector<std::tuple<K, std::uint32_t, bool>> expected{
      {K::Button, 0x110, true}, {K::Button, 0x110, false}, {K::Key, 30, true}, {K::Key, 30, false}};
  EXPECT_EQ(input, expected);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front().x, 300);
  EXPECT_EQ(got.front().y, 200);
  // The dialog belongs to the program's window, so the desktop puts it in front.
  EXPECT_EQ(desktop.Asked().parentWindow.rfind("x11:", 0), 0u) << desktop.Asked().parentWindow;
  // The permission is kept for the next scheduled run.
  EXPECT_EQ(ReadFile(dir_.File("VeskRemoteInput.token")), desktop.LastIssuedToken() + "\n");
}

TEST_F(RemoteProgram, ARunTheUserRefusesEndsUnfinishedAndSaysWhy) {
  FakeDesktop::Config config;
  config.answer = FakeDesktop::Answer::Refuse;
  FakeDesktop desktop(config);
  WriteRun();
  ASSERT_TRUE(Start());
  // Paused by the system: the program stays open until the user closes it.
  ASSERT_TRUE(WaitFor(
      [&] {
        return Log().find("the user declined the desktop's remote input dialog") !=
               std::string::npos;
      },
      [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); },
      std::chrono::milliseconds(30000)))
      << Log();
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
  ASSERT_TRUE(PressEscapeInMain());
  const int status = Exit();
  EXPECT_NE(status, -1) << "the program did not end\n" << Log();
  EXPECT_NE(status, 0) << Log();
  EXPECT_TRUE(desktop.Got().empty());
  EXPECT_FALSE(fs::exists(dir_.File("VeskRemoteInput.token")));
}

// The desktop's dialog belongs to the program's window, comes to the front
// and takes the keys; once answered the program has both back.
TEST_F(RemoteProgram, WhileTheDialogIsUpTheWindowStepsBackAndLetsGoOfTheKeys) {
  FakeDesktop::Config config;
  config.answer = FakeDesktop::Answer::Hold;
  FakeDesktop desktop(config);
  WriteRun(60000);  // the key stays down, the program running
  WindowManagerState wm;
  ASSERT_TRUE(Start());
  const auto pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); };
  ASSERT_TRUE(WaitFor([&] { return desktop.Asked().dialogs == 1; }, pump, std::chrono::seconds(30)))
      << Log();
  FakeInput other;  // another client, as the window manager and the dialog are
  Display* dpy = other.dpy();
  char expected[32];
  std::snprintf(expected, sizeof expected, "x11:%lx", MainWindow(dpy));
  EXPECT_EQ(desktop.Asked().parentWindow, expected) << Log();
  EXPECT_TRUE(WaitFor([&] { return !wm.KeptAbove(MainWindow(dpy)); }, pump));
  EXPECT_TRUE(BreakIsFree(dpy));

  desktop.AnswerDialog(FakeDesktop::Answer::Grant);
  ASSERT_TRUE(WaitFor([&] { return desktop.Got().size() >= 4; }, pump)) << Log();
  EXPECT_TRUE(WaitFor([&] { return wm.KeptAbove(MainWindow(dpy)); }, pump));
  EXPECT_FALSE(BreakIsFree(dpy));  // taken back before the first input went
}

}  // namespace
}  // namespace vesk::testing
