// Replay on a real X server: the playback protocol served on schedule,
// records that cannot be replayed, input sent at once and the injector in use.
#include <QWidget>

#include "input_fixture.h"

#include "common/recording_sink.h"
#include "common/scripted_playback.h"

namespace vesk::testing {
namespace {

TEST_F(BackendInput, PlaybackReplaysTheJournalInOrderOnSchedule) {
  TargetWindow target(300, 300, 200, 150);
  user.Move(5, 5);
  user.FocusFollowsPointer();
  ScriptedPlayback play;
  play.records = {
      {{WM_MOUSEMOVE, 350, 350, 0, 0}, 40},
      {{WM_LBUTTONDOWN, 360, 370, 0, 0}, 25},
      {{WM_LBUTTONUP, 360, 370, 0, 0}, 15},
      {{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 30},
      {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 20},
      {{WM_KEYDOWN, Key(0x4D, 0x27), 0x8001, 0, 0}, 1},
      {{WM_KEYUP, Key(0x4D, 0x27), 0x8001, 0, 0}, 1},
      {{WM_MOUSEWHEEL, 380, 390, 0, static_cast<std::uint32_t>(-120)}, 10},
  };
  ASSERT_NE(play.Install(backend), 0u);
  auto pump = [&] {
    Pump();
    target.Pump();
  };
  ASSERT_TRUE(WaitFor([&] { return target.Of(ButtonRelease).size() >= 2; }, pump));

  std::vector<ReceivedInput> got;
  for (const auto& r : target.Got()) {
    if (r.type != MotionNotify) got.push_back(r);
  }
  const std::vector<std::pair<int, unsigned>> order{
      {ButtonPress, 1},      {ButtonRelease, 1},      {KeyPress, kKeyA}, {KeyRelease, kKeyA},
      {KeyPress, kKeyRight}, {KeyRelease, kKeyRight}, {ButtonPress, 5},  {ButtonRelease, 5},
  };
  ASSERT_EQ(got.size(), order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].type, order[i].first);
    EXPECT_EQ(got[i].detail, order[i].second);
  }
  EXPECT_EQ(got[0].x_root, 360);
  EXPECT_EQ(got[0].y_root, 370);
  EXPECT_EQ(got[6].x_root, 380);
  EXPECT_EQ(got[6].y_root, 390);
  const auto motion = target.Of(MotionNotify);
  ASSERT_FALSE(motion.empty());
  EXPECT_EQ(motion.front().x_root, 350);
  EXPECT_EQ(motion.front().y_root, 350);
  // Every wait is served before the record goes out (on the server's time
  // stamps, of 1 ms resolution). How close to it is the benchmark's matter:
  // a busy machine only makes the gaps longer.
  EXPECT_GE(static_cast<long>(got[0].time - motion.front().time), 25 - 1);
  EXPECT_GE(static_cast<long>(got[1].time - got[0].time), 15 - 1);
  EXPECT_GE(static_cast<long>(got[2].time - got[1].time), 30 - 1);
  EXPECT_GE(static_cast<long>(got[3].time - got[2].time), 20 - 1);

  // GETNEXT (wait), GETNEXT (now), SKIP per event; the last GETNEXT unhooks.
  ASSERT_TRUE(WaitFor(
      [&] { return play.next == play.records.size() && play.calls.size() == 3 * play.next + 1; },
      Pump));
  for (std::size_t i = 0; i < play.records.size(); ++i) {
    EXPECT_EQ(play.calls[3 * i], HC_GETNEXT);
    EXPECT_EQ(play.calls[3 * i + 1], HC_GETNEXT);
    EXPECT_EQ(play.calls[3 * i + 2], HC_SKIP);
  }
  const std::size_t callsAtEnd = play.calls.size();
  for (int i = 0; i < 20; ++i) Pump();
  EXPECT_EQ(play.calls.size(), callsAtEnd);  // removed: never called again
}

TEST_F(BackendInput, PlaybackSkipsRecordsItCannotReplay) {
  TargetWindow target(300, 300, 200, 150);
  ScriptedPlayback play;
  play.records = {
      {{0x9999, 1, 2, 0, 0}, 5},                   // not an input message
      {{WM_KEYDOWN, 0x7F00, 1, 0, 0}, 5},          // no such key
      {{WM_KEYDOWN, Key(0x00, 'B'), 1, 0, 0}, 5},  // no scan code: by its virtual key
      {{WM_KEYUP, Key(0x00, 'B'), 1, 0, 0}, 5},
      {{WM_MOUSEMOVE, 0xFFFFFFF6u, 0xFFFFFFF6u, 0, 0}, 5},  // off screen
      {{WM_MOUSEMOVE, 350, 360, 0, 0}, 5},
  };
  user.Move(320, 320);
  user.FocusFollowsPointer();
  ASSERT_NE(play.Install(backend), 0u);
  auto pump = [&] {
    Pump();
    target.Pump();
  };
  ASSERT_TRUE(WaitFor([&] { return play.next == play.records.size(); }, pump));
  ASSERT_TRUE(WaitFor(
      [&] {
        return !target.Of(MotionNotify).empty() && target.Of(MotionNotify).back().x_root == 350;
      },
      pump));
  // The key without a scan code was found by its virtual key; the one with
  // neither was skipped.
  ASSERT_EQ(target.Of(KeyPress).size(), 1u);
  EXPECT_EQ(target.Of(KeyPress)[0].detail, kKeyB);
}

// A journal that never ends: every event waits 20 ms.
std::vector<int> g_endlessCalls;
LResult EndlessProc(int code, WParam, LParam lParam) {
  g_endlessCalls.push_back(code);
  if (code != HC_GETNEXT) return 0;
  *reinterpret_cast<EVENTMSG*>(lParam) = EVENTMSG{WM_MOUSEMOVE, 40, 50, 0, 0};
  return g_endlessCalls.size() % 3 == 1 ? 20 : 0;
}

TEST_F(BackendInput, LostReplayConnectionCancelsPlaybackAndCtrlBreakStaysWatched) {
  g_endlessCalls.clear();
  ASSERT_NE(backend.SetWindowsHookEx(WH_GETMESSAGE, &GetMessageProc), 0u);
  ASSERT_NE(backend.SetWindowsHookEx(WH_KEYBOARD_LL, &KeyboardProc), 0u);
  const HookHandle playback = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &EndlessProc);
  ASSERT_NE(playback, 0u);
  ASSERT_TRUE(WaitFor([] { return g_endlessCalls.size() > 6; }, Pump));

  XKillClient(user.dpy(), backend.Input().ControlConnectionResource());
  XSync(user.dpy(), False);
  ASSERT_TRUE(WaitFor(
      [] {
        return std::find(g_seen.retrieved.begin(), g_seen.retrieved.end(), WM_CANCELJOURNAL) !=
               g_seen.retrieved.end();
      },
      Pump));
  EXPECT_FALSE(backend.UnhookWindowsHookEx(playback));
  const std::size_t calls = g_endlessCalls.size();
  for (int i = 0; i < 10; ++i) Pump();
  EXPECT_EQ(g_endlessCalls.size(), calls);

  // The grab was taken again on a new connection.
  user.Key(kKeyCtrlL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyCtrlL, false);
  ASSERT_TRUE(WaitFor([] { return !g_seen.keys.empty(); }, Pump));
  EXPECT_EQ(g_seen.keys[0].vkCode, VK_CANCEL);
}

// Which keys the X server holds down, by key code.
bool ServerHolds(Display* dpy, unsigned keycode) {
  char keys[32] = {};
  XQueryKeymap(dpy, keys);
  return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
}

TEST_F(BackendInput, SendInputInjectsAtOnceInOrderAndCountsWhatItInjected) {
  TargetWindow target(300, 300, 200, 150);
  user.Move(320, 320);
  user.FocusFollowsPointer();
  auto pump = [&] { target.Pump(); };
  // Presses, as a paused playback restores what it held.
  const std::vector<EVENTMSG> press{
      {WM_KEYDOWN, Key(0x2A, VK_SHIFT), 1, 0, 0},
      {WM_LBUTTONDOWN, 350, 360, 0, 0},
      {0x9999, 0, 0, 0, 0},  // not input: skipped, not counted
  };
  EXPECT_EQ(backend.SendInput(press), 2u);
  // At once: the server holds them when the call returns.
  EXPECT_TRUE(ServerHolds(user.dpy(), kKeyShiftL));
  Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(user.dpy(), DefaultRootWindow(user.dpy()), &root, &child, &rx, &ry, &wx, &wy,
                &mask);
  EXPECT_NE(mask & Button1Mask, 0u);
  EXPECT_EQ(rx, 350);
  EXPECT_EQ(ry, 360);

  // Releases, last pressed first; a wheel turn and a move after them.
  const std::vector<EVENTMSG> release{
      {WM_LBUTTONUP, 350, 360, 0, 0},
      {WM_KEYUP, Key(0x2A, VK_SHIFT), 1, 0, 0},
      {WM_MOUSEWHEEL, 370, 380, 0, 240},
      {WM_MOUSEMOVE, 390, 400, 0, 0},
  };
  EXPECT_EQ(backend.SendInput(release), 4u);
  EXPECT_FALSE(ServerHolds(user.dpy(), kKeyShiftL));
  ASSERT_TRUE(WaitFor([&] { return target.Of(ButtonRelease).size() >= 3; }, pump));
  std::vector<std::pair<int, unsigned>> got;
  for (const auto& r : target.Got()) {
    if (r.type != MotionNotify) got.emplace_back(r.type, r.detail);
  }
  const std::vector<std::pair<int, unsigned>> order{
      {KeyPress, kKeyShiftL}, {ButtonPress, 1},   {ButtonRelease, 1}, {KeyRelease, kKeyShiftL},
      {ButtonPress, 4},       {ButtonRelease, 4}, {ButtonPress, 4},   {ButtonRelease, 4},
  };
  EXPECT_EQ(got, order);
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto moves = target.Of(MotionNotify);
        return !moves.empty() && moves.back().x_root == 390 && moves.back().y_root == 400;
      },
      pump));
  EXPECT_EQ(backend.SendInput({}), 0u);
}

// As the engine answers: due times on the microsecond clock; a repeated
// HC_GETNEXT gives the time still left, rounded, until within half a
// millisecond of due; the last record's repeated call ends the pass.
TEST_F(BackendInput, PlaybackAsksAgainWhenDueAndNeverReplaysTheLastRecord) {
  TargetWindow target(300, 300, 200, 150);
  user.Move(5, 5);
  ScriptedPlayback play;
  // Gaps of 0.6 to 3.4 ms: waits finer than a millisecond.
  std::vector<std::uint64_t> dueUs;
  std::uint64_t due = 2000;
  for (int i = 0; i < 40; ++i) {
    dueUs.push_back(due);
    play.records.push_back({{WM_MOUSEMOVE, static_cast<std::uint32_t>(310 + i), 320, 0, 0}, 0});
    due += 600 + static_cast<std::uint64_t>(i % 8) * 400;
  }
  std::uint64_t startUs = 0;
  int fresh = 0;
  int earlyRepeats = 0;
  play.pace = [&](std::size_t i, bool first) -> LResult {
    const std::uint64_t now = backend.GetMicroseconds();
    if (startUs == 0) startUs = now;
    const auto left =
        static_cast<std::int64_t>(startUs + dueUs[i]) - static_cast<std::int64_t>(now);
    if (first) {
      ++fresh;
    } else if (left > 500) {
      ++earlyRepeats;
    } else {
      return 0;
    }
    return std::max<std::int64_t>(1, (left + 500) / 1000);
  };
  play.endInsideLastRecord = true;
  ASSERT_NE(play.Install(backend), 0u);
  auto pump = [&] {
    Pump();
    target.Pump();
  };
  const std::size_t last = dueUs.size() - 1;
  ASSERT_TRUE(WaitFor([&] { return play.ended && target.Of(MotionNotify).size() >= last; }, pump));
  // The pass ended inside the repeated call: nothing more is asked or replayed.
  EXPECT_FALSE(backend.UnhookWindowsHookEx(play.self));
  for (int i = 0; i < 20; ++i) pump();
  const auto moves = target.Of(MotionNotify);
  ASSERT_EQ(moves.size(), last);
  for (std::size_t i = 0; i < last; ++i) EXPECT_EQ(moves[i].x_root, static_cast<int>(310 + i));
  EXPECT_EQ(std::count(play.calls.begin(), play.calls.end(), HC_SKIP), static_cast<long>(last));
  EXPECT_EQ(fresh, static_cast<int>(last + 1));
  // The timer never wakes before the time it was given.
  EXPECT_EQ(earlyRepeats, 0);
}

// Another input path in place of XTEST: both playback and input sent at
// once go through it.
class CountingInjector : public x11::Injector {
 public:
  bool CanInject() override { return true; }
  std::uint32_t Send(const EVENTMSG* events, std::size_t count) override {
    sent.insert(sent.end(), events, events + count);
    return static_cast<std::uint32_t>(count);
  }
  bool IsConnected() const override { return true; }
  std::vector<EVENTMSG> sent;
};

TEST_F(BackendInput, PlaybackAndInputSentAtOnceShareTheInjectorInUse) {
  TargetWindow target(300, 300, 200, 150);
  user.Move(5, 5);
  CountingInjector injector;
  backend.UseInjector(&injector);
  ScriptedPlayback play;
  play.records = {{{WM_MOUSEMOVE, 350, 350, 0, 0}, 2}, {{WM_MOUSEMOVE, 360, 360, 0, 0}, 2}};
  ASSERT_NE(play.Install(backend), 0u);
  ASSERT_TRUE(WaitFor([&] { return play.next == play.records.size(); }, Pump));
  EXPECT_EQ(backend.SendInput({{WM_MOUSEMOVE, 370, 370, 0, 0}}), 1u);
  ASSERT_EQ(injector.sent.size(), 3u);
  EXPECT_EQ(injector.sent[0].paramL, 350u);
  EXPECT_EQ(injector.sent[1].paramL, 360u);
  EXPECT_EQ(injector.sent[2].paramL, 370u);
  for (int i = 0; i < 10; ++i) target.Pump(), Pump();
  EXPECT_TRUE(target.Of(MotionNotify).empty());  // nothing went through XTEST

  // Back to XTEST.
  backend.UseInjector(nullptr);
  EXPECT_EQ(backend.SendInput({{WM_MOUSEMOVE, 380, 380, 0, 0}}), 1u);
  EXPECT_TRUE(WaitFor([&] { return !target.Of(MotionNotify).empty(); }, [&] { target.Pump(); }));
  EXPECT_EQ(injector.sent.size(), 3u);
}

// A playback timer that fires while a window waits to be shown (the event
// loop then runs for painting only) fires again once the window is up, so
// the playback goes on rather than freezing in Playing.
TEST_F(BackendInput, APlaybackTimerThatFiresWhileAWindowWaitsToBeShownFiresAgain) {
  RecordingSink sink;
  const WindowId w =
      backend.CreateDialogWindow(*FindDialogTemplate(kSettingsDialogTemplate), 0, &sink);
  ScriptedPlayback play;
  play.records = {{{WM_MOUSEMOVE, 40, 50, 0, 0}, 1}, {{WM_MOUSEMOVE, 41, 50, 0, 0}, 1}};
  ASSERT_NE(play.Install(backend), 0u);  // the first record is due at once
  backend.WindowWidget(w)->show();
  backend.UpdateWindow(w);  // waits for the window to be shown
  EXPECT_TRUE(play.calls.empty()) << "nothing is played while the window waits to be shown";
  EXPECT_TRUE(WaitFor([&] { return play.ended; }, Pump));
  EXPECT_EQ(play.next, 2u);
  backend.DestroyWindow(w);
}

}  // namespace
}  // namespace vesk::testing
