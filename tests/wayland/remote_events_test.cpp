// Journal records as emulated-device events, where positions land among the
// desktop's monitors, and what the start-up lines say. No desktop needed.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/wayland/remote_events.h"
#include "platform/wayland/restore_token.h"
#include "test_files.h"

namespace vesk::wayland {
namespace {

std::uint32_t Key(std::uint32_t scan, std::uint32_t vk) { return scan << 8 | vk; }

constexpr std::uint32_t kKeyA = 30, kKeyB = 48, kKeyEnter = 28, kKeyRight = 106, kKeyKp6 = 77;

TEST(RemoteEvents, KeysGoByEvdevCodeFromTheScanCodeElseTheVirtualKey) {
  EXPECT_EQ(EvdevKeyOf({WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}), kKeyA);
  // The extended flag tells the arrow from the keypad key.
  EXPECT_EQ(EvdevKeyOf({WM_KEYDOWN, Key(0x4D, 0x27), 0x8001, 0, 0}), kKeyRight);
  EXPECT_EQ(EvdevKeyOf({WM_KEYDOWN, Key(0x4D, 0x66), 1, 0, 0}), kKeyKp6);
  // Records without a scan code (written by hand or by a script).
  EXPECT_EQ(EvdevKeyOf({WM_KEYDOWN, Key(0, 'B'), 1, 0, 0}), kKeyB);
  EXPECT_EQ(EvdevKeyOf({WM_KEYDOWN, Key(0, 0x0D), 1, 0, 0}), kKeyEnter);
  EXPECT_EQ(EvdevKeyOf({WM_KEYDOWN, Key(0, 0xFF), 1, 0, 0}), 0u);

  const auto down = DeviceEventsFor({WM_SYSKEYDOWN, Key(0x1E, 'A'), 1, 0, 0});
  ASSERT_TRUE(down);
  ASSERT_EQ(down->size(), 1u);
  EXPECT_EQ((*down)[0].kind, DeviceEvent::Kind::Key);
  EXPECT_TRUE((*down)[0].press);
  const auto up = DeviceEventsFor({WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0});
  ASSERT_TRUE(up);
  EXPECT_FALSE((*up)[0].press);
  EXPECT_FALSE(DeviceEventsFor({WM_KEYDOWN, Key(0, 0xFF), 1, 0, 0}));
  EXPECT_FALSE(DeviceEventsFor({WM_COMMAND, 1, 2, 0, 0}));
}

TEST(RemoteEvents, MouseRecordsMoveFirstAndTheWheelTurnsTheRightWay) {
  const auto click = DeviceEventsFor({WM_RBUTTONDOWN, 40, static_cast<std::uint32_t>(-5), 0, 0});
  ASSERT_TRUE(click);
  ASSERT_EQ(click->size(), 2u);
  EXPECT_EQ((*click)[0].kind, DeviceEvent::Kind::Move);
  EXPECT_EQ((*click)[0].x, 40);
  EXPECT_EQ((*click)[0].y, -5);  // signed, left of or above the primary monitor
  EXPECT_EQ((*click)[1].code, kBtnRight);
  EXPECT_TRUE((*click)[1].press);
  EXPECT_EQ((*DeviceEventsFor({WM_MBUTTONUP, 1, 1, 0, 0}))[1].code, kBtnMiddle);

  // Away from the user (positive) is up: negative steps.
  const auto away = DeviceEventsFor({WM_MOUSEWHEEL, 10, 20, 0, 240});
  ASSERT_TRUE(away);
  EXPECT_EQ((*away)[1].kind, DeviceEvent::Kind::Scroll);
  EXPECT_EQ((*away)[1].y, -240);
  EXPECT_EQ((*DeviceEventsFor({WM_MOUSEWHEEL, 10, 20, 0, static_cast<std::uint32_t>(-120)}))[1].y,
            120);
  EXPECT_FALSE(DeviceEventsFor({WM_MOUSEWHEEL, 10, 20, 0, 0}));
  EXPECT_EQ((*DeviceEventsFor({WM_MOUSEWHEEL, 10, 20, 0, 0x80000000u}))[1].y, 2400);
  EXPECT_EQ((*DeviceEventsFor({WM_MOUSEWHEEL, 10, 20, 0, 0x7FFFFFFFu}))[1].y, -2400);

  // Sideways: to the right is positive in both; side buttons by number.
  const auto right = DeviceEventsFor({WM_MOUSEHWHEEL, 10, 20, 0, 120});
  ASSERT_TRUE(right);
  EXPECT_EQ((*right)[1].kind, DeviceEvent::Kind::Scroll);
  EXPECT_EQ((*right)[1].x, 120);
  EXPECT_EQ((*right)[1].y, 0);
  EXPECT_EQ((*DeviceEventsFor({WM_XBUTTONDOWN, 1, 1, 0, XBUTTON1}))[1].code, kBtnSide);
  const auto forwardUp = DeviceEventsFor({WM_XBUTTONUP, 1, 1, 0, XBUTTON2});
  EXPECT_EQ((*forwardUp)[1].code, kBtnExtra);
  EXPECT_FALSE((*forwardUp)[1].press);
  EXPECT_FALSE(DeviceEventsFor({WM_XBUTTONDOWN, 1, 1, 0, 3}));
}

TEST(RemoteEvents, PointsOutsideEveryMonitorGoToTheNearestOne) {
  // A 1920x1080 monitor and a smaller one at scale 2 to its right, top-aligned.
  const std::vector<Region> monitors{{0, 0, 1920, 1080, 1.0}, {1920, 0, 1280, 720, 2.0}};
  auto at = [&](int x, int y) { return PlaceOnRegions(monitors, x, y); };
  EXPECT_FALSE(at(100, 100).clamped);
  // On the scaled monitor positions stay logical.
  EXPECT_FALSE(at(2000, 700).clamped);
  EXPECT_EQ(at(2000, 700).x, 2000);
  EXPECT_EQ(at(2000, 700).y, 700);
  // Below the smaller monitor: the gap.
  const Placed gap = at(2500, 900);
  EXPECT_TRUE(gap.clamped);
  EXPECT_EQ(gap.x, 2500);
  EXPECT_EQ(gap.y, 719);
  // Nearer the big one's right edge than the small one's bottom.
  const Placed corner = at(1930, 1000);
  EXPECT_EQ(corner.x, 1919);
  EXPECT_EQ(corner.y, 1000);
  const Placed left = at(-50, -3);
  EXPECT_EQ(left.x, 0);
  EXPECT_EQ(left.y, 0);
  // Nothing announced: the point goes as it is.
  EXPECT_FALSE(PlaceOnRegions({}, 5000, 5000).clamped);
  EXPECT_FALSE(PlaceOnRegions({{0, 0, 0, 0, 1.0}}, 5000, 5000).clamped);
}

TEST(RemoteEvents, TheSessionComesFromTheEnvironmentAndTheNotesSayWhatWorks) {
  auto detect = [](std::map<std::string, std::string> env) {
    return DetectSession([&env](const char* name) -> const char* {
      auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    });
  };
  EXPECT_FALSE(detect({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}).wayland);
  EXPECT_FALSE(detect({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", ""}}).wayland);
  const SessionKind w = detect({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}});
  EXPECT_TRUE(w.wayland);
  EXPECT_TRUE(w.xwayland);
  EXPECT_TRUE(detect({{"XDG_SESSION_TYPE", "wayland"}}).wayland);
  EXPECT_TRUE(detect({{"XDG_CURRENT_DESKTOP", "KDE"}}).edgeBarriers);
  EXPECT_FALSE(detect({{"XDG_CURRENT_DESKTOP", "GNOME"}}).edgeBarriers);
  EXPECT_FALSE(detect({{"XDG_SESSION_TYPE", "wayland"}}).xwayland);

  EXPECT_TRUE(StartupNotesFor({false, false}, {}).empty());
  const auto remote = StartupNotesFor(w, {true, ""});
  ASSERT_EQ(remote.size(), 2u);
  EXPECT_EQ(remote[0], "Wayland session: recording sees X11 programs only.");
  EXPECT_NE(remote[1].find("remote input"), std::string::npos);
  const auto xtest = StartupNotesFor(w, {false, "libei not found"});
  ASSERT_EQ(xtest.size(), 2u);
  EXPECT_EQ(xtest[1],
            "Replay: XTEST through Xwayland (libei not found); the desktop decides where it goes: "
            "GNOME asks for its own permission first, KDE lets it reach every window, others X11 "
            "programs only.");
}

TEST(RestoreToken, KeptForTheOwnerAndAnythingElseIsNoToken) {
  testing::TempDir dir;
  const RestoreTokenFile file(dir.File(kRestoreTokenFileName));
  const std::string uuid = "3f2a77c0-1b2c-4d5e-8f90-a1b2c3d4e5f6";
  EXPECT_EQ(file.Load(), "");
  ASSERT_TRUE(file.Save(uuid));
  EXPECT_EQ(file.Load(), uuid);
  EXPECT_EQ(std::filesystem::status(file.Path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_FALSE(file.Save("two words"));
  EXPECT_EQ(file.Load(), uuid);

  // The portal fails the whole request on a token that is not a UUID: such
  // a file is no token, and it goes so that the next run is asked afresh.
  for (const std::string& bad : {std::string("\x01\xff\0zz", 5), std::string(1 << 20, 'a'),
                                 std::string("token-1"), uuid.substr(1) + "g"}) {
    testing::WriteFile(file.Path(), bad);
    EXPECT_EQ(file.Load(), "");
    EXPECT_FALSE(std::filesystem::exists(file.Path()));
  }

  EXPECT_FALSE(file.NoEis());
  file.MarkNoEis();
  EXPECT_TRUE(file.NoEis());
  EXPECT_TRUE(std::filesystem::exists(file.NoEisPath()));

  const RestoreTokenFile unwritable(
      dir.File("missing-folder/" + std::string(kRestoreTokenFileName)));
  EXPECT_FALSE(unwritable.Save(uuid));
}

TEST(RemoteEvents, XRootPositionsComeBackToTheDesktopsLayout) {
  // 1920x1200 at 150 %: 1280x800 logical; Xwayland scaled to the next whole
  // scale has a 2560x1600 root.
  const std::vector<Region> one{{0, 0, 1280, 800, 1.5}};
  auto at = [](const std::vector<Region>& r, int w, int h, int x, int y) {
    const Placed p = PlaceFromXRoot(r, w, h, x, y);
    return std::tuple{p.x, p.y, p.clamped};
  };
  EXPECT_EQ(at(one, 2560, 1600, 800, 500), std::tuple(400.0, 250.0, false));
  EXPECT_EQ(at(one, 2560, 1600, 2559, 1599), std::tuple(1279.5, 799.5, false));
  // Scaling off: the root is the layout.
  EXPECT_EQ(at(one, 1280, 800, 800, 500), std::tuple(800.0, 500.0, false));
  // No X server, or a root that is no uniform multiple: one to one.
  EXPECT_EQ(at(one, 0, 0, 800, 500), std::tuple(800.0, 500.0, false));
  EXPECT_EQ(at(one, 1920, 1080, 1500, 900), std::tuple(1279.0, 799.0, true));
  // Two monitors, the layout starting left of 0: the root's corner is its corner.
  const std::vector<Region> two{{-1280, 0, 1280, 800, 2.0}, {0, 0, 1920, 1080, 1.0}};
  EXPECT_EQ(at(two, 6400, 2160, 0, 0), std::tuple(-1280.0, 0.0, false));
  EXPECT_EQ(at(two, 6400, 2160, 3200, 1000), std::tuple(320.0, 500.0, false));
  // 800x600 at 150 % on KWin: announced as 533x400, the root at the scale.
  EXPECT_EQ(at({{0, 0, 533, 400, 1.5}}, 800, 600, 600, 450), std::tuple(400.0, 300.0, false));
}

TEST(RemoteEvents, MovesToAnotherMonitorGoByPointsTheEdgeBarrierCannotHold) {
  // A 1280x1024 monitor, a shorter one right of it, and one below the first.
  const std::vector<Region> r{
      {0, 0, 1280, 1024, 1.0}, {1280, 0, 800, 600, 2.0}, {0, 1024, 1280, 720, 1.0}};
  auto hops = [&](const Placed* from, double x, double y) {
    std::vector<std::pair<double, double>> out;
    for (const Placed& p : CrossingHops(r, from, {x, y})) out.emplace_back(p.x, p.y);
    return out;
  };
  const Placed left{100, 900}, right{2000, 50}, below{640, 1700};
  using Hops = std::vector<std::pair<double, double>>;
  EXPECT_EQ(hops(&left, 1200, 10), Hops{}) << "within one monitor";
  // On the line through the span both share (y 0 to 600), never past a corner.
  EXPECT_EQ(hops(&left, 1290, 590), (Hops{{640, 300}, {2079, 300}}));
  EXPECT_EQ(hops(&right, 5, 5), (Hops{{1680, 300}, {0, 300}}));
  EXPECT_EQ(hops(&below, 640, 1000), (Hops{{640, 1384}, {640, 0}}));
  // No shared edge, or from an unknown place: the target monitor's middle.
  EXPECT_EQ(hops(&below, 1300, 10), (Hops{{1680, 300}}));
  EXPECT_EQ(hops(nullptr, 10, 10), (Hops{{640, 512}}));
  EXPECT_EQ(CrossingHops({r[0]}, nullptr, {10, 10}).size(), 0u);
}

TEST(RemoteEvents, WheelRemaindersCarryOnlyWhereTheDesktopDropsThem) {
  WheelSteps gnome(true), kde(false);
  std::vector<std::int32_t> sent, passed;
  for (const std::int32_t amount : {30, 30, 30, 30, 60, 60, 240, -30, 120, -60, -60}) {
    sent.push_back(gnome.Take(amount));
    passed.push_back(kde.Take(amount));
  }
  EXPECT_EQ(sent, (std::vector<std::int32_t>{0, 0, 0, 120, 0, 120, 240, 0, 120, 0, -120}));
  EXPECT_EQ(passed, (std::vector<std::int32_t>{30, 30, 30, 30, 60, 60, 240, -30, 120, -60, -60}));
}

}  // namespace
}  // namespace vesk::wayland
