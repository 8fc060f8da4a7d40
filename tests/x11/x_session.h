// A private X server for one test process, a plain X window that logs the
// input it receives, and input generated through XTEST.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vesk::testing {

using Clock = std::chrono::steady_clock;

// Xvfb on a display number it picks itself (-displayfd), so parallel tests
// never collide; -noreset keeps it up when clients come and go. The
// session has a state folder of its own (XDG_STATE_HOME), so the recovery
// journals of the programs it runs never meet another test's or the user's.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args{"Xvfb",        "-displayfd", fd,          "-screen", "0",
                                  "1024x768x24", "-noreset",   "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      // It dies with this process and never holds the test runner's output
      // open, whatever way this process ends.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      close(fds[0]);
      execvp("Xvfb", argv.data());
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c = 0;
      if (read(fds[0], &c, 1) != 1) break;
      if (c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start");
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    char state[] = "/tmp/vesk-state-XXXXXX";
    if (mkdtemp(state) == nullptr) throw std::runtime_error("mkdtemp");
    state_ = state;
    setenv("XDG_STATE_HOME", state_.c_str(), 1);
  }
  ~Xvfb() {
    std::error_code ec;
    std::filesystem::remove_all(state_, ec);
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& display() const { return display_; }
  // XDG_STATE_HOME of the session's programs.
  const std::string& stateHome() const { return state_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
  std::string state_;
};

inline Display* OpenDisplay() {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) throw std::runtime_error("no display");
  return dpy;
}

// Repeats pump() until done() holds or the time is up; true when it held.
inline bool WaitFor(const std::function<bool()>& done, const std::function<void()>& pump,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct ReceivedInput {
  int type;         // KeyPress, ButtonPress, MotionNotify...
  unsigned detail;  // key code or button
  int x_root, y_root;
  unsigned long time;
};

// A window on its own connection that logs its keyboard and mouse input.
class TargetWindow {
 public:
  TargetWindow(int x, int y, int width, int height) {
    dpy_ = OpenDisplay();
    XSetWindowAttributes a{};
    a.event_mask =
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    a.background_pixel = WhitePixel(dpy_, DefaultScreen(dpy_));
    a.override_redirect = True;
    window_ = XCreateWindow(dpy_, DefaultRootWindow(dpy_), x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWEventMask | CWBackPixel | CWOverrideRedirect, &a);
    XSelectInput(dpy_, window_, a.event_mask | StructureNotifyMask);
    XMapRaised(dpy_, window_);
    XSync(dpy_, False);
    XEvent ev;
    do {
      XWindowEvent(dpy_, window_, StructureNotifyMask, &ev);
    } while (ev.type != MapNotify);
  }
  ~TargetWindow() {
    XDestroyWindow(dpy_, window_);
    XCloseDisplay(dpy_);
  }
  TargetWindow(const TargetWindow&) = delete;
  TargetWindow& operator=(const TargetWindow&) = delete;

  void Pump() {
    while (XPending(dpy_) > 0) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      switch (ev.type) {
        case KeyPress:
        case KeyRelease:
          got_.push_back({ev.type, ev.xkey.keycode, ev.xkey.x_root, ev.xkey.y_root, ev.xkey.time});
          break;
        case ButtonPress:
        case ButtonRelease:
          got_.push_back(
              {ev.type, ev.xbutton.button, ev.xbutton.x_root, ev.xbutton.y_root, ev.xbutton.time});
          break;
        case MotionNotify:
          got_.push_back({ev.type, 0, ev.xmotion.x_root, ev.xmotion.y_root, ev.xmotion.time});
          break;
        default:
          break;
      }
    }
  }
  std::vector<ReceivedInput> Of(int type) const {
    std::vector<ReceivedInput> out;
    for (const auto& r : got_) {
      if (r.type == type) out.push_back(r);
    }
    return out;
  }
  const std::vector<ReceivedInput>& Got() const { return got_; }
  Window id() const { return window_; }

 private:
  Display* dpy_ = nullptr;
  Window window_ = 0;
  std::vector<ReceivedInput> got_;
};

// Input as a user would make it, through XTEST on a connection of its own.
class FakeInput {
 public:
  FakeInput() : dpy_(OpenDisplay()) {}
  ~FakeInput() { XCloseDisplay(dpy_); }
  FakeInput(const FakeInput&) = delete;
  FakeInput& operator=(const FakeInput&) = delete;

  void Move(int x, int y) { Done(XTestFakeMotionEvent(dpy_, -1, x, y, CurrentTime)); }
  void Button(unsigned b, bool down) { Done(XTestFakeButtonEvent(dpy_, b, down, CurrentTime)); }
  void Key(unsigned keycode, bool down) {
    Done(XTestFakeKeyEvent(dpy_, keycode, down, CurrentTime));
  }
  void Click(int x, int y) {
    Move(x, y);
    Button(1, true);
    Button(1, false);
  }
  // Keyboard focus follows the pointer, as with no window manager.
  void FocusFollowsPointer() {
    XSetInputFocus(dpy_, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(dpy_, False);
  }
  Display* dpy() { return dpy_; }

 private:
  void Done(int) { XSync(dpy_, False); }
  Display* dpy_ = nullptr;
};

// Evdev key codes of the keys the tests press.
inline constexpr unsigned kKeyA = 38, kKeyB = 56, kKeyRight = 114, kKeyCtrlL = 37, kKeyPause = 127,
                          kKeyShiftL = 50, kKeyReturn = 36, kKeyAltL = 64, kKeyX = 53;

}  // namespace vesk::testing
