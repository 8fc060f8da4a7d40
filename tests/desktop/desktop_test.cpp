// The Wayland remote-input path against the real desktops of the test world:
// GNOME's and KDE's own portals and compositors, each started once for the
// suite. What the fake desktop assumes is checked here against them: the
// portal's version and its backend's ConnectToEIS, the lock state the
// desktop reports, and on KDE (whose permission the harness can grant) the
// whole session: devices, the monitor's region, and the restore token used
// up and handed back on every run.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "client_log.h"
#include "desktop_world.h"
#include "platform/wayland/portal_client.h"
#include "platform/wayland/remote_input.h"
#include "platform/wayland/restore_token.h"
#include "platform/wayland/screen_lock.h"
#include "test_files.h"

namespace vesk::testing {
namespace {

class Desktop : public ::testing::Test {
 protected:
  static std::unique_ptr<DesktopWorld>& World() {
    static std::unique_ptr<DesktopWorld> world;
    return world;
  }
  static void TearDownTestSuite() { World().reset(); }
  void SetUp() override {
    ASSERT_TRUE(World() != nullptr);
    ASSERT_EQ(World()->Failure(), "");
  }

  // The remote-input path as the program builds it, on the world's bus.
  std::unique_ptr<wayland::RemoteInput> Remote() {
    const QDBusConnection bus = World()->Bus();
    wayland::RemoteInput::Options options;
    options.tokenPath = dir_.File(wayland::kRestoreTokenFileName);
    options.consentTimeoutMs = 30000;
    // The X root is asked of the world's Xwayland, as the program asks its own.
    ::setenv("DISPLAY", World()->Env("DISPLAY").c_str(), 1);
    const std::string xauth = World()->Env("XAUTHORITY");
    xauth.empty() ? ::unsetenv("XAUTHORITY") : ::setenv("XAUTHORITY", xauth.c_str(), 1);
    auto remote = std::make_unique<wayland::RemoteInput>(
        wayland::SessionKind{true, true, World()->Name() == "gnome"}, [bus] { return bus; },
        options);
    remote->SetCallbacks({[this] { ready_ = true; },
                          [this](const std::string& why) { lost_ = why; },
                          [](const std::string&) {},
                          {}});
    return remote;
  }

  void CommonFacts() {
    const QDBusConnection bus = World()->Bus();
    QString why;
    EXPECT_EQ(wayland::PortalClient::ProbeVersion(bus, 10000, &why), 2u) << why.toStdString();
    // Both backends of Debian 13 have ConnectToEIS; the probe must not
    // send their users to XTEST.
    EXPECT_FALSE(wayland::PortalClient::BackendLacksEis(bus, 10000));
    wayland::ScreenLock lock(bus, QDBusConnection(QString()));
    EXPECT_FALSE(lock.Locked(2000)) << "a fresh session is not locked";
  }

  TempDir dir_;
  bool ready_ = false;
  std::string lost_;
};

class Gnome : public Desktop {
 protected:
  static void SetUpTestSuite() { World() = std::make_unique<DesktopWorld>("gnome"); }
};
class Kde : public Desktop {
 protected:
  static void SetUpTestSuite() { World() = std::make_unique<DesktopWorld>("kde"); }
};

TEST_F(Gnome, ThePortalOffersEmulatedInputAndTheBackendHasIt) {
  CommonFacts();
  // The backend was started by the probe above: now it is asked directly.
  EXPECT_FALSE(wayland::PortalClient::BackendLacksEis(World()->Bus(), 10000));
  auto remote = Remote();
  EXPECT_TRUE(remote->Active());
}

TEST_F(Kde, ASessionGetsTheMonitorAndKeepsItsTokenRunAfterRun) {
  CommonFacts();
  ASSERT_TRUE(World()->GrantKdePermission());
  const wayland::RestoreTokenFile token(dir_.File(wayland::kRestoreTokenFileName));
  std::string previous;
  for (int run = 0; run < 2; ++run) {
    ready_ = false;
    lost_.clear();
    auto remote = Remote();
    ASSERT_TRUE(remote->Active());
    remote->Open();
    ASSERT_TRUE(WaitFor([&] { return ready_ || !lost_.empty(); })) << World()->CompositorLog();
    ASSERT_TRUE(ready_) << lost_;
    const auto regions = remote->Regions();
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0].width, 800);
    EXPECT_EQ(regions[0].height, 600);
    EXPECT_TRUE(remote->Inject({WM_MOUSEMOVE, 400, 300, 0, 0}));
    // The portal deletes an offered token and stores what it hands back:
    // KDE's hands back the same one, so the file must hold it again.
    const std::string kept = token.Load();
    EXPECT_EQ(kept.size(), 36u) << "a UUID from the portal";
    if (run > 0) {
      EXPECT_EQ(kept, previous);
    }
    previous = kept;
  }
}

// Records sent on their recorded schedule (ms after the first) through the
// remote-input path, and what the native client in the session received.
TEST_F(Kde, TheNativeClientGetsPositionsButtonsKeysAndWheelOnSchedule) {
  // The grant counts once the portal runs (the version probe starts it).
  CommonFacts();
  ASSERT_TRUE(World()->GrantKdePermission());
  auto remote = Remote();
  remote->Open();
  ASSERT_TRUE(WaitFor([&] { return ready_ || !lost_.empty(); })) << World()->CompositorLog();
  ASSERT_TRUE(ready_) << lost_;
  // Shown once the session's pointer exists, so that it enters the window.
  ASSERT_TRUE(World()->StartClient()) << World()->ClientLog();
  ASSERT_TRUE(WaitFor(
      [&] { return World()->ClientLog().find("wl_pointer] enter") != std::string::npos; }, 10000))
      << World()->ClientLog();
  struct At {
    std::uint32_t ms;
    EVENTMSG e;
  };
  // Around the middle of the 800x600 desktop, which the client's window covers.
  std::vector<At> plan = {
      {0, {WM_MOUSEMOVE, 360, 280, 0, 0}},      {300, {WM_MOUSEMOVE, 400, 300, 0, 0}},
      {600, {WM_LBUTTONDOWN, 400, 300, 0, 0}},  {750, {WM_LBUTTONUP, 400, 300, 0, 0}},
      {1050, {WM_RBUTTONDOWN, 400, 300, 0, 0}}, {1200, {WM_RBUTTONUP, 400, 300, 0, 0}},
      {1500, {WM_KEYDOWN, 0x2A10, 1, 0, 0}},    {1600, {WM_KEYDOWN, 0x1E41, 1, 0, 0}},
      {1700, {WM_KEYUP, 0x1E41, 1, 0, 0}},      {1800, {WM_KEYUP, 0x2A10, 1, 0, 0}}};
  std::uint32_t at = 1800;
  for (const std::uint32_t amount : {120u, 240u, 60u, 30u}) {
    at += 300;
    plan.push_back({at, {WM_MOUSEWHEEL, 400, 300, 0, amount}});
  }
  plan.push_back({at + 300, {WM_MOUSEMOVE, 440, 320, 0, 0}});
  const std::uint64_t start = NowUs() + 50000;
  for (const At& step : plan) {
    WaitFor([&] { return NowUs() >= start + std::uint64_t{step.ms} * 1000u; }, 5000);
    EXPECT_TRUE(remote->Inject(step.e));
  }
  // The last move is the end.
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto got = Parse(World()->ClientLog());
        return got.size() > 2 && got.back().kind == "motion" && got[got.size() - 2].kind == "wheel";
      },
      5000))
      << [&] {
           std::string kinds;
           for (const Seen& e : Parse(World()->ClientLog())) kinds += e.kind + " ";
           return kinds;
         }();
  const auto got = Parse(World()->ClientLog());
  std::vector<Seen> timed;
  std::vector<double> moves;
  std::vector<std::string> typed;
  std::vector<int> wheel;
  std::vector<std::uint32_t> buttons;
  for (const Seen& s : got) {
    if (s.kind == "motion") moves.push_back(s.a), moves.push_back(s.b);
    if (s.kind == "button" || s.kind == "key") timed.push_back(s);
    if (s.kind == "button") buttons.push_back(static_cast<std::uint32_t>(s.a));
    if (s.kind == "key" && s.a == 38 && s.b == 1) typed.push_back(s.text);
    if (s.kind == "wheel") wheel.push_back(static_cast<int>(s.a));
  }
  EXPECT_EQ(buttons, (std::vector<std::uint32_t>{272, 272, 273, 273}));
  ASSERT_GE(moves.size(), 4u);
  // Surface positions: the client's window is where the desktop put it,
  // so the steps between positions are what is checked.
  EXPECT_DOUBLE_EQ(moves[2] - moves[0], 40.0);
  EXPECT_DOUBLE_EQ(moves[3] - moves[1], 20.0);
  EXPECT_DOUBLE_EQ(moves[moves.size() - 2] - moves[2], 40.0);
  EXPECT_EQ(typed, std::vector<std::string>{"A"}) << "Shift+a types a capital";
  // One notch and two, up (15 a notch in the client's units). What KWin
  // makes of the partial amounts that follow is printed, not judged.
  ASSERT_GE(wheel.size(), 2u);
  EXPECT_EQ(wheel[0], -15);
  EXPECT_EQ(wheel[1], -30);
  for (std::size_t i = 2; i < wheel.size(); ++i)
    std::printf("kde wheel after 60, 30: %d\n", wheel[i]);
  // Each timed event against its plan: the gaps at the client.
  std::vector<std::uint32_t> planned;
  for (const At& step : plan) {
    if (step.e.message != WM_MOUSEMOVE && step.e.message != WM_MOUSEWHEEL) {
      planned.push_back(step.ms);
    }
  }
  ASSERT_EQ(timed.size(), planned.size());
  std::vector<int> errors;
  for (std::size_t i = 1; i < timed.size(); ++i) {
    errors.push_back(static_cast<int>(timed[i].time - timed[i - 1].time) -
                     static_cast<int>(planned[i] - planned[i - 1]));
  }
  std::sort(errors.begin(), errors.end(), [](int x, int y) { return std::abs(x) < std::abs(y); });
  const int span = static_cast<int>(timed.back().time - timed.front().time);
  const int want = static_cast<int>(planned.back() - planned.front());
  std::printf("kde at the client: %zu gaps, max |error| %d ms, drift %d ms over %d ms\n",
              errors.size(), std::abs(errors.back()), span - want, want);
  EXPECT_LT(std::abs(errors.back()), 100) << "no gap collapsed or stalled";
}

}  // namespace
}  // namespace vesk::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
