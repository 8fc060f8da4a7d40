// Replay on a Wayland session through the backend: the portal handshake,
// the device wait, what arrives at the desktop's emulated-input server and
// when, and the ways a desktop says no or takes remote input away.
#include <QCoreApplication>
#include <QDBusConnection>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "common/scripted_playback.h"
#include "fake_desktop.h"
#include "platform/qt/qt_backend.h"
#include "platform/wayland/remote_input.h"
#include "platform/wayland/restore_token.h"
#include "test_files.h"

namespace vesk::testing {
namespace {

using qt::QtBackend;
using K = Received::Kind;

constexpr std::uint32_t kKeyA = 30, kKeyRight = 106, kBtnLeft = 0x110;

void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

bool WaitFor(const std::function<bool()>& done, int limitMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::uint32_t Key(std::uint32_t scan, std::uint32_t vk) { return scan << 8 | vk; }

// The journal as the playback hook serves it, and the messages the
// get-message hook saw.
struct Served {
  std::unique_ptr<ScriptedPlayback> play = std::make_unique<ScriptedPlayback>();
  QtBackend* backend = nullptr;
  std::vector<std::uint32_t> retrieved;
};
Served g;

LResult GetMessageProc(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g.retrieved.push_back(reinterpret_cast<const MSG*>(lParam)->message);
  return 0;
}

bool Cancelled() {
  return std::find(g.retrieved.begin(), g.retrieved.end(), WM_CANCELJOURNAL) != g.retrieved.end();
}

std::vector<Received> Of(const std::vector<Received>& got, K kind) {
  std::vector<Received> out;
  for (const auto& r : got) {
    if (r.kind == kind) out.push_back(r);
  }
  return out;
}

class RemoteReplay : public ::testing::Test {
 protected:
  RemoteReplay() { g = {}; }

  std::unique_ptr<QtBackend> Backend() {
    auto b = std::make_unique<QtBackend>();
    g.backend = b.get();
    return b;
  }

  void Play(QtBackend& backend, std::vector<ScriptedRecord> records) {
    g.play->records = std::move(records);
    ASSERT_NE(backend.SetWindowsHookEx(WH_GETMESSAGE, &GetMessageProc), 0u);
    ASSERT_NE(g.play->Install(backend), 0u);
  }

  TempDir dir;  // the working folder: settings and the restore token
};

TEST_F(RemoteReplay, StartupNotesSayWhichPathReplayUses) {
  {
    FakeDesktop desktop({});
    auto backend = Backend();
    const auto notes = backend->StartupNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "Wayland session: recording sees X11 programs only.");
    EXPECT_NE(notes[1].find("through the desktop's remote input"), std::string::npos) << notes[1];
  }
  {
    FakeDesktop::Config old;
    old.version = 1;
    FakeDesktop desktop(old);
    const auto notes = Backend()->StartupNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[1].find("XTEST"), std::string::npos);
    EXPECT_NE(notes[1].find("version 1"), std::string::npos) << notes[1];
  }
  {
    // No portal on the bus at all.
    const auto notes = Backend()->StartupNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[1].find("no remote input portal"), std::string::npos) << notes[1];
  }
  {
    FakeDesktop desktop({});
    wayland::RemoteInput withoutLibrary({true, true}, [] { return QDBusConnection::sessionBus(); },
                                        {"token", 1000, 1000, false});
    EXPECT_FALSE(withoutLibrary.Active());
    ASSERT_EQ(withoutLibrary.StartupNotes().size(), 2u);
    EXPECT_NE(withoutLibrary.StartupNotes()[1].find("(libei not found)"), std::string::npos);
  }
}

TEST_F(RemoteReplay, WaitsForTheDevicesThenPlaysTheJournalOnSchedule) {
  FakeDesktop::Config config;
  config.resumeAtOnce = false;
  FakeDesktop desktop(config);
  auto backend = Backend();
  Play(*backend, {
                     {{WM_MOUSEMOVE, 350, 350, 0, 0}, 40},
                     {{WM_LBUTTONDOWN, 360, 370, 0, 0}, 25},
                     {{WM_LBUTTONUP, 360, 370, 0, 0}, 15},
                     {{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 30},
                     {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 20},
                     {{WM_KEYDOWN, Key(0x4D, 0x27), 0x8001, 0, 0}, 1},
                     {{WM_KEYUP, Key(0x4D, 0x27), 0x8001, 0, 0}, 1},
                     {{WM_MOUSEWHEEL, 380, 390, 0, static_cast<std::uint32_t>(-120)}, 10},
                 });
  // Devices announced but not yet resumed: nothing is asked of the journal.
  ASSERT_TRUE(WaitFor([&] { return desktop.DevicesAdded() == 2; }));
  for (int i = 0; i < 50; ++i) Pump();
  EXPECT_TRUE(g.play->calls.empty());
  const auto asked = desktop.Asked();
  EXPECT_EQ(asked.types, 3u);  // keyboard and pointer
  EXPECT_EQ(asked.persistMode, 2u);
  EXPECT_EQ(asked.dialogs, 1);

  const std::uint64_t resumedUs = MonotonicUs();  // playback starts after this
  desktop.Resume();
  ASSERT_TRUE(WaitFor([&] { return !Of(desktop.Got(), K::Scroll).empty(); }));
  const auto got = desktop.Got();
  std::vector<Received> input;  // all but moves
  for (const auto& r : got) {
    if (r.kind != K::Move) input.push_back(r);
  }
  const std::vector<std::tuple<K, std::uint32_t, bool>> order{
      {K::Button, kBtnLeft, true}, {K::Button, kBtnLeft, false}, {K::Key, kKeyA, true},
      {K::Key, kKeyA, false},      {K::Key, kKeyRight, true},    {K::Key, kKeyRight, false},
      {K::Scroll, 0, false},
  };
  ASSERT_EQ(input.size(), order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(input[i].kind, std::get<0>(order[i]));
    EXPECT_EQ(input[i].code, std::get<1>(order[i]));
    EXPECT_EQ(input[i].press, std::get<2>(order[i]));
    EXPECT_EQ(input[i].device, input[i].kind == K::Key ? "keyboard" : "pointer");
  }
  EXPECT_EQ(input[6].y, 120);  // one notch towards the user
  const auto moves = Of(got, K::Move);
  ASSERT_EQ(moves.size(), 4u);  // the move, both button records, the wheel
  EXPECT_EQ(moves[0].x, 350);
  EXPECT_EQ(moves[0].y, 350);
  EXPECT_EQ(moves[1].x, 360);
  EXPECT_EQ(moves[1].y, 370);
  EXPECT_EQ(moves[3].x, 380);
  EXPECT_EQ(moves[3].y, 390);
  // Frames are stamped on the schedule: never before an event is due,
  // counted from when the devices resumed (how close after it is the
  // benchmark's to measure, not a test's).
  auto since = [&](const Received& r) {
    return static_cast<long>(r.frameUs) - static_cast<long>(resumedUs);
  };
  EXPECT_GE(since(moves[0]), 40'000 - 1000);
  const long dueUs[] = {65'000, 80'000, 110'000, 130'000, 131'000, 132'000, 142'000};
  for (std::size_t i = 0; i < 7; ++i) EXPECT_GE(since(input[i]), dueUs[i] - 1000) << i;
  for (std::size_t i = 1; i < input.size(); ++i) EXPECT_GE(input[i].frameUs, input[i - 1].frameUs);
  for (const auto& r : got) EXPECT_LE(r.frameUs, r.receivedUs);

  ASSERT_TRUE(WaitFor([] { return g.play->next == g.play->records.size(); }));
  EXPECT_FALSE(Cancelled());
  EXPECT_EQ(backend->TakeCancelReason(), "");
}

TEST_F(RemoteReplay, TwoMonitorsWithDifferentScalesAndAPointInTheGap) {
  FakeDesktop::Config config;
  config.regions = {{0, 0, 1920, 1080, 1.0}, {1920, 0, 1280, 720, 2.0}};
  FakeDesktop desktop(config);
  wayland::RemoteInput remote({true, true}, [] { return QDBusConnection::sessionBus(); },
                              {dir.File(wayland::kRestoreTokenFileName), 5000, 5000, true});
  ASSERT_TRUE(remote.Active());
  bool ready = false;
  std::vector<std::string> notes;
  remote.SetCallbacks({[&] { ready = true; }, [](const std::string& why) { FAIL() << why; },
                       [&](const std::string& line) { notes.push_back(line); }});
  remote.Open();
  ASSERT_TRUE(WaitFor([&] { return ready; }));
  const auto regions = remote.Regions();
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[1].x, 1920);
  EXPECT_EQ(regions[1].width, 1280);
  EXPECT_DOUBLE_EQ(regions[1].scale, 2.0);

  for (auto [x, y] : {std::pair{100, 100}, {2000, 700}, {2500, 900}, {3000, 1000}}) {
    EXPECT_TRUE(remote.Inject(
        {WM_MOUSEMOVE, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0, 0}));
  }
  ASSERT_TRUE(WaitFor([&] { return desktop.Got().size() == 4; }));
  const auto got = desktop.Got();
  EXPECT_EQ(got[1].x, 2000);  // logical pixels on the scaled monitor
  EXPECT_EQ(got[1].y, 700);
  EXPECT_EQ(got[2].x, 2500);  // below the small monitor: onto its bottom row
  EXPECT_EQ(got[2].y, 719);
  EXPECT_EQ(got[3].x, 3000);
  EXPECT_EQ(got[3].y, 719);
  ASSERT_EQ(notes.size(), 1u);  // said once, however often it happens
  EXPECT_NE(notes[0].find("2500,900"), std::string::npos) << notes[0];
}

TEST_F(RemoteReplay, TheUserRefusingTheDialogCancelsPlaybackWithTheReason) {
  FakeDesktop::Config config;
  config.answer = FakeDesktop::Answer::Refuse;
  FakeDesktop desktop(config);
  auto backend = Backend();
  Play(*backend,
       {{{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 1}, {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 1}});
  ASSERT_TRUE(WaitFor(Cancelled));
  EXPECT_EQ(backend->TakeCancelReason(),
            "Remote input: the user declined the desktop's remote input dialog.");
  EXPECT_EQ(backend->TakeCancelReason(), "");                // told once
  EXPECT_FALSE(backend->UnhookWindowsHookEx(g.play->self));  // already gone
  EXPECT_TRUE(g.play->calls.empty());
  EXPECT_TRUE(desktop.Got().empty());
  EXPECT_FALSE(std::filesystem::exists(wayland::kRestoreTokenFileName));
}

TEST_F(RemoteReplay, TheSessionClosedMidPlaybackReleasesWhatIsHeld) {
  FakeDesktop desktop({});
  auto backend = Backend();
  Play(*backend, {
                     {{WM_LBUTTONDOWN, 10, 10, 0, 0}, 1},
                     {{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 1},
                     {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 60000},
                 });
  ASSERT_TRUE(WaitFor([&] { return Of(desktop.Got(), K::Key).size() == 1; }));
  desktop.CloseSession();
  ASSERT_TRUE(WaitFor(Cancelled));
  EXPECT_EQ(backend->TakeCancelReason(),
            "Remote input: the desktop closed the remote input session.");
  // Released while the connection still stood, last pressed first.
  ASSERT_TRUE(WaitFor([&] { return desktop.Got().size() >= 5; }));
  const auto got = desktop.Got();
  const auto keys = Of(got, K::Key);
  const auto buttons = Of(got, K::Button);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_FALSE(keys[1].press);
  EXPECT_EQ(keys[1].code, kKeyA);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_FALSE(buttons[1].press);
  // What the engine then releases is up already.
  EXPECT_EQ(backend->SendInput({{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, {WM_LBUTTONUP, 10, 10, 0, 0}}),
            2u);
  EXPECT_TRUE(WaitFor([&] { return !desktop.ClientConnected(); }));
}

TEST_F(RemoteReplay, ADevicePausedMidPlaybackCancelsAndTheHeldKeyIsReleased) {
  FakeDesktop desktop({});
  auto backend = Backend();
  Play(*backend, {
                     {{WM_MOUSEMOVE, 10, 10, 0, 0}, 1},
                     {{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 1},
                     {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 60000},
                 });
  ASSERT_TRUE(WaitFor([&] { return Of(desktop.Got(), K::Key).size() == 1; }));
  // The screen locks: the desktop pauses what it can (a device in the
  // middle of holding a key keeps running).
  desktop.Pause();
  ASSERT_TRUE(WaitFor(Cancelled));
  const std::string reason = backend->TakeCancelReason();
  EXPECT_NE(reason.find("paused"), std::string::npos) << reason;
  // The engine's release goes through the keyboard, still running.
  EXPECT_EQ(backend->SendInput({{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}}), 1u);
  ASSERT_TRUE(WaitFor([&] { return Of(desktop.Got(), K::Key).size() == 2; }));
  EXPECT_FALSE(Of(desktop.Got(), K::Key)[1].press);
  // A press needs the whole session back.
  EXPECT_EQ(backend->SendInput({{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}}), 0u);

  // Continue: playback waits for the desktop to resume, then goes on.
  g = {};
  g.backend = backend.get();
  Play(*backend,
       {{{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 1}, {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 60000}});
  for (int i = 0; i < 50; ++i) Pump();
  EXPECT_TRUE(g.play->calls.empty());
  desktop.Resume();
  ASSERT_TRUE(WaitFor([&] { return Of(desktop.Got(), K::Key).size() == 3; }));

  // The session ends: the desktop removes the devices, lets go of their
  // keys itself and closes the session.
  desktop.RemoveDevices();
  desktop.CloseSession();
  ASSERT_TRUE(WaitFor(Cancelled));
  EXPECT_NE(backend->TakeCancelReason().find("closed"), std::string::npos);
  EXPECT_EQ(backend->SendInput({{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}}), 1u);
}

TEST_F(RemoteReplay, EachRunUsesUpItsTokenAndKeepsTheNextOne) {
  FakeDesktop desktop({});
  auto run = [this] {
    g = {};
    auto backend = Backend();
    Play(*backend, {{{WM_MOUSEMOVE, 5, 5, 0, 0}, 1}, {{WM_MOUSEMOVE, 6, 6, 0, 0}, 1}});
    return WaitFor([] { return g.play->next == g.play->records.size() || Cancelled(); }) &&
           !Cancelled();
  };
  ASSERT_TRUE(run());
  EXPECT_EQ(desktop.Asked().dialogs, 1);
  EXPECT_EQ(desktop.Asked().offeredToken, "");
  const std::string first = desktop.LastIssuedToken();
  EXPECT_EQ(ReadFile(wayland::kRestoreTokenFileName), first + "\n");

  // The next run, unattended: no dialog, and the token handed back replaces
  // the one used up.
  ASSERT_TRUE(run());
  EXPECT_EQ(desktop.Asked().offeredToken, first);
  EXPECT_EQ(desktop.Asked().dialogs, 1);
  EXPECT_NE(desktop.LastIssuedToken(), first);
  EXPECT_EQ(ReadFile(wayland::kRestoreTokenFileName), desktop.LastIssuedToken() + "\n");

  // Revoked: an unknown token just brings the dialog back.
  desktop.SetValidTokens({});
  ASSERT_TRUE(run());
  EXPECT_EQ(desktop.Asked().dialogs, 2);

  // Not a UUID (the portal would fail the request): never offered.
  WriteFile(wayland::kRestoreTokenFileName, "token-1\n");
  ASSERT_TRUE(run());
  EXPECT_EQ(desktop.Asked().offeredToken, "");
  EXPECT_EQ(desktop.Asked().dialogs, 3);
}

TEST_F(RemoteReplay, TheDialogClosedKeepsThePermissionAndSaysSo) {
  FakeDesktop::Config config;
  config.answer = FakeDesktop::Answer::CloseDialog;
  FakeDesktop desktop(config);
  auto backend = Backend();
  Play(*backend, {{{WM_MOUSEMOVE, 5, 5, 0, 0}, 1}});
  ASSERT_TRUE(WaitFor(Cancelled));
  EXPECT_EQ(backend->TakeCancelReason(),
            "Remote input: the desktop's permission dialog was closed without an answer.");
  EXPECT_TRUE(g.play->calls.empty());
}

// Both desktops replace their devices on a monitor, scale or keymap change.
TEST_F(RemoteReplay, ADeviceSwapMidRunIsFollowedOnTheNewLayout) {
  FakeDesktop desktop({});  // 1024x768: the X root's size
  auto backend = Backend();
  Play(*backend, {
                     {{WM_MOUSEMOVE, 600, 400, 0, 0}, 1},
                     {{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 1},
                     {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 400},
                     {{WM_MOUSEMOVE, 600, 400, 0, 0}, 1},
                 });
  ASSERT_TRUE(WaitFor([&] { return Of(desktop.Got(), K::Key).size() == 1; }));
  // The monitor goes to 200 %: its layout halves, Xwayland's scaled root stays.
  desktop.SwapDevices({{0, 0, 512, 384, 2.0}});
  ASSERT_TRUE(WaitFor([] { return g.play->next == g.play->records.size() || Cancelled(); }));
  EXPECT_FALSE(Cancelled()) << backend->TakeCancelReason();
  const auto moves = Of(desktop.Got(), K::Move);
  ASSERT_GE(moves.size(), 2u);
  EXPECT_EQ(std::pair(moves.front().x, moves.front().y), std::pair(600.0, 400.0));
  EXPECT_EQ(std::pair(moves.back().x, moves.back().y), std::pair(300.0, 200.0));
  EXPECT_EQ(moves.back().device, "pointer");
  // The A held over the swap is held again on the new keyboard (up first:
  // KWin would take a second press of a held key as nothing), then let go.
  std::vector<bool> presses;
  for (const auto& k : Of(desktop.Got(), K::Key)) presses.push_back(k.press);
  EXPECT_EQ(presses, (std::vector<bool>{true, false, true, false}));
}

// Neither desktop pauses remote input on a lock: the backend asks the lock.
TEST_F(RemoteReplay, ALockedScreenPausesBeforeTheFirstEventAndWhenItLocks) {
  const std::string line =
      "The screen is locked: playback paused; nothing is typed into a locked session.";
  FakeDesktop desktop({});
  desktop.SetLocked(true);
  {
    auto backend = Backend();
    Play(*backend, {{{WM_KEYDOWN, Key(0x1C, 0x0D), 1, 0, 0}, 1}});
    ASSERT_TRUE(WaitFor(Cancelled));
    EXPECT_EQ(backend->TakeCancelReason(), line);
    EXPECT_TRUE(g.play->calls.empty());
    EXPECT_EQ(desktop.Asked().sessions, 0) << "not even the dialog";
  }
  desktop.SetLocked(false);
  g = {};
  auto backend = Backend();
  Play(*backend, {{{WM_KEYDOWN, Key(0x2A, 0x10), 1, 0, 0}, 1},
                  {{WM_KEYUP, Key(0x2A, 0x10), 1, 0, 0}, 60000}});
  ASSERT_TRUE(WaitFor([&] { return Of(desktop.Got(), K::Key).size() == 1; }));
  desktop.SetLocked(true);
  ASSERT_TRUE(WaitFor(Cancelled));
  EXPECT_EQ(backend->TakeCancelReason(), line);
  // The engine lets go of the held Shift.
  EXPECT_EQ(backend->SendInput({{WM_KEYUP, Key(0x2A, 0x10), 1, 0, 0}}), 1u);
  ASSERT_TRUE(WaitFor([&] { return Of(desktop.Got(), K::Key).size() == 2; }));
  EXPECT_FALSE(Of(desktop.Got(), K::Key)[1].press);
}

TEST_F(RemoteReplay, ADesktopWithoutConnectToEisIsAskedOnceThenLeftToXtest) {
  FakeDesktop::Config config;
  config.connectToEis = false;
  FakeDesktop desktop(config);
  {
    auto backend = Backend();
    Play(*backend, {{{WM_MOUSEMOVE, 5, 5, 0, 0}, 1}});
    ASSERT_TRUE(WaitFor(Cancelled));
    const std::string reason = backend->TakeCancelReason();
    EXPECT_NE(reason.find("no emulated-input connection"), std::string::npos) << reason;
    EXPECT_NE(reason.find("XTEST"), std::string::npos) << reason;
  }
  const auto notes = Backend()->StartupNotes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[1].find("XTEST"), std::string::npos) << notes[1];
  EXPECT_NE(notes[1].find("earlier run"), std::string::npos) << notes[1];
  EXPECT_EQ(desktop.Asked().dialogs, 1);
}

TEST_F(RemoteReplay, GnomeGetsWholeNotchesWithTheRestCarried) {
  FakeDesktop::Config config;
  config.wholeWheelNotches = true;
  FakeDesktop desktop(config);
  setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
  auto backend = Backend();
  unsetenv("XDG_CURRENT_DESKTOP");
  std::vector<ScriptedRecord> wheel;
  for (const std::uint32_t amount : {30u, 30u, 30u, 30u, 60u, 60u, 240u}) {
    wheel.push_back({{WM_MOUSEWHEEL, 5, 5, 0, amount}, 1});
  }
  Play(*backend, wheel);
  ASSERT_TRUE(WaitFor([] { return g.play->next == g.play->records.size(); }));
  std::vector<double> steps;
  for (const auto& r : Of(desktop.Got(), K::Scroll)) steps.push_back(r.y);
  EXPECT_EQ(steps, (std::vector<double>{-120, -120, -240}));
}

// The desktop's word read by a frame's own dispatch leaves the socket quiet:
// it is taken there, or only when the desktop next speaks. Past the handshake
// the event loop does not run here, so only the frames read the socket.
TEST_F(RemoteReplay, ASwapOrPauseReadWhileAFrameGoesOutIsTakenAtOnce) {
  FakeDesktop desktop({});
  auto root = [](std::int32_t* w, std::int32_t* h) { return *w = 1024, *h = 768, true; };
  wayland::RemoteInput remote({true, true}, [] { return QDBusConnection::sessionBus(); },
                              {dir.File(wayland::kRestoreTokenFileName), 5000, 5000, true, root});
  bool ready = false;
  std::vector<std::string> lost;
  remote.SetCallbacks({[&] { ready = true; }, [&](const std::string& why) { lost.push_back(why); },
                       [](const std::string&) {}});
  remote.Open();
  ASSERT_TRUE(WaitFor([&] { return ready; }));
  const EVENTMSG move{WM_MOUSEMOVE, 600, 400, 0, 0};

  // The monitor goes to 200 %: the devices are swapped for ones on the new layout.
  desktop.SwapDevices({{0, 0, 512, 384, 2.0}});
  EXPECT_TRUE(remote.Inject(move));  // into the old pointer, in flight as it went
  EXPECT_TRUE(remote.Ready());
  EXPECT_TRUE(remote.Inject(move));
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto moves = Of(desktop.Got(), K::Move);
        return !moves.empty() && moves.back().x == 300 && moves.back().y == 200;
      },
      2000));

  desktop.Pause();
  EXPECT_TRUE(remote.Inject(move));  // sent before the pause was read
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_NE(lost[0].find("paused"), std::string::npos) << lost[0];
  EXPECT_FALSE(remote.Ready());
  EXPECT_FALSE(remote.Inject({WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}));  // not into a paused device
}

}  // namespace
}  // namespace vesk::testing
