// Side buttons and sideways scrolling on a real X server: RECORD captures
// buttons 8/9 and 6/7 as the journal's side-button and sideways-wheel
// records, and XTEST replays those records as the same buttons.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/qt/qt_backend.h"
#include "x_session.h"

namespace vesk::testing {
namespace {

std::vector<EVENTMSG> g_recorded;

LResult Record(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return 0;
}

void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

TEST(X11SideButtons, RecordedFromButtonsSixToNineAndReplayedAsThem) {
  g_recorded.clear();
  qt::QtBackend backend;
  FakeInput user;
  TargetWindow target(300, 300, 200, 150);
  user.Move(320, 330);
  const HookHandle hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &Record);
  ASSERT_NE(hook, 0u);
  for (const unsigned b : {8u, 9u, 6u, 7u}) user.Button(b, true), user.Button(b, false);
  const std::vector<EVENTMSG> expected{
      {WM_XBUTTONDOWN, 320, 330, 0, XBUTTON1},
      {WM_XBUTTONUP, 320, 330, 0, XBUTTON1},
      {WM_XBUTTONDOWN, 320, 330, 0, XBUTTON2},
      {WM_XBUTTONUP, 320, 330, 0, XBUTTON2},
      {WM_MOUSEHWHEEL, 320, 330, 0, static_cast<std::uint32_t>(-120)},  // left
      {WM_MOUSEHWHEEL, 320, 330, 0, 120},                               // right
  };
  ASSERT_TRUE(WaitFor([] { return g_recorded.size() >= 6; }, Pump));
  backend.UnhookWindowsHookEx(hook);
  ASSERT_EQ(g_recorded.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(g_recorded[i].message, expected[i].message);
    EXPECT_EQ(g_recorded[i].hwnd, expected[i].hwnd);
    EXPECT_EQ(g_recorded[i].paramL, 320u);
  }

  // What the journal holds, replayed: the window sees the same buttons.
  auto pump = [&] { target.Pump(); };
  ASSERT_TRUE(WaitFor([&] { return target.Of(ButtonRelease).size() >= 4; }, pump));
  const std::size_t before = target.Of(ButtonRelease).size();
  EXPECT_EQ(backend.SendInput(g_recorded), expected.size());
  ASSERT_TRUE(WaitFor([&] { return target.Of(ButtonRelease).size() >= before + 4; }, pump));
  std::vector<std::pair<int, unsigned>> replayed;
  const auto& got = target.Got();
  for (const auto& r : got) {
    if (r.type == ButtonPress || r.type == ButtonRelease) replayed.emplace_back(r.type, r.detail);
  }
  const std::vector<std::pair<int, unsigned>> tail(replayed.end() - 8, replayed.end());
  const std::vector<std::pair<int, unsigned>> order{
      {ButtonPress, 8}, {ButtonRelease, 8}, {ButtonPress, 9}, {ButtonRelease, 9},
      {ButtonPress, 6}, {ButtonRelease, 6}, {ButtonPress, 7}, {ButtonRelease, 7},
  };
  EXPECT_EQ(tail, order);
}

}  // namespace
}  // namespace vesk::testing
