// The program itself on the real desktops: `vesk play` replays a journal
// into the native client lying under the program's own window, which lets
// the clicks through on both (on GNOME through the window manager's frame).
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "client_events.h"
#include "desktop_world.h"
#include "platform/wayland/portal_client.h"
#include "test_files.h"

// Last: its macros clash with Qt's names.
#include <X11/Xlib.h>

namespace vesk::testing {
namespace {

// Whether a window titled "PLAYING..." (the program's, in a frame or not)
// covers (x, y) once shown.
bool Covers(Display* dpy, Window w, int x, int y) {
  char* name = nullptr;
  bool covers = false;
  if (XFetchName(dpy, w, &name) != 0 && name != nullptr) {
    XWindowAttributes a{};
    int ax = 0, ay = 0;
    Window child = 0;
    covers = std::string(name).rfind("PLAYING", 0) == 0 && XGetWindowAttributes(dpy, w, &a) != 0 &&
             a.map_state == IsViewable &&
             XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &ax, &ay, &child) &&
             x >= ax && x < ax + a.width && y >= ay && y < ay + a.height;
    XFree(name);
  }
  Window root = 0, parent = 0, *children = nullptr;
  unsigned n = 0;
  if (!covers && XQueryTree(dpy, w, &root, &parent, &children, &n) != 0) {
    for (unsigned i = 0; i < n && !covers; ++i) covers = Covers(dpy, children[i], x, y);
  }
  if (children != nullptr) XFree(children);
  return covers;
}

bool PlayingWindowCovers(const DesktopWorld& world, int x, int y) {
  setenv("XAUTHORITY", world.Env("XAUTHORITY").c_str(), 1);
  Display* dpy = XOpenDisplay(world.Env("DISPLAY").c_str());
  if (dpy == nullptr) return false;
  bool covers = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!(covers = Covers(dpy, DefaultRootWindow(dpy), x, y)) &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  XCloseDisplay(dpy);
  return covers;
}

void WholeRun(const std::string& desktop) {
  DesktopWorld world(desktop);
  ASSERT_EQ(world.Failure(), "");
  QString why;
  wayland::PortalClient::ProbeVersion(world.Bus(), 10000, &why);  // starts the portal
  if (desktop == "kde") {
    ASSERT_TRUE(world.GrantKdePermission());
  }
  ASSERT_TRUE(world.StartClient()) << world.ClientLog();
  int width = 0, height = 0;
  ASSERT_TRUE(world.XRootSize(&width, &height));
  TempDir dir;
  const Journal journal = MixedJournal(12, width / 2, height / 2);
  WriteFile(dir.File("run.alg"), EncodeJournal(journal));
  const int status = world.PlayProgram(dir.path().string(), dir.File("run.alg"), [&] {
    if (desktop == "gnome") {
      EXPECT_EQ(world.AnswerGnomeDialog(DesktopWorld::Answer::Share, 500), "");
    }
    EXPECT_TRUE(PlayingWindowCovers(world, width / 2, height / 2))
        << "the client is not under the program's window: nothing is shown";
  });
  EXPECT_EQ(status, 0) << ReadFile(dir.File("vesk.log"));
  const GapStats s = CompareGaps(ParseClientEvents(world.ClientLog()), journal);
  EXPECT_EQ(s.matched, s.expected) << "clicks and keys at the client\n"
                                   << ReadFile(dir.File("vesk.log"));
}

TEST(ProgramOnGnome, AWholeRunReachesTheClientUnderItsWindow) { WholeRun("gnome"); }
TEST(ProgramOnKde, AWholeRunReachesTheClientUnderItsWindow) { WholeRun("kde"); }

}  // namespace
}  // namespace vesk::testing
