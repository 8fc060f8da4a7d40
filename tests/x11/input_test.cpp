// The backend's hooks on a real X server: what RECORD captures, what XTEST
// replays, Ctrl+Break and a lost capture connection.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <algorithm>

#include "platform/x11/injector.h"
#include "platform/qt/qt_backend.h"
#include "platform/x11/x11_input.h"
#include "x_session.h"

namespace vesk::testing {
namespace {

using qt::QtBackend;

// Hook procedures are plain functions: what they see goes here.
struct Seen {
  std::vector<EVENTMSG> recorded;
  std::vector<KBDLLHOOKSTRUCT> keys;
  std::vector<WParam> keyMessages;
  std::vector<std::uint32_t> retrieved;
};
Seen g_seen;

LResult RecordProc(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_seen.recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return 0;
}
LResult KeyboardProc(int, WParam wParam, LParam lParam) {
  g_seen.keys.push_back(*reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam));
  g_seen.keyMessages.push_back(wParam);
  return 1;
}
LResult GetMessageProc(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_seen.retrieved.push_back(reinterpret_cast<const MSG*>(lParam)->message);
  return 0;
}

void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

class BackendInput : public ::testing::Test {
 protected:
  BackendInput() { g_seen = {}; }
  QtBackend backend;
  FakeInput user;
};

std::uint32_t Key(std::uint32_t scan, std::uint32_t vk) { return scan << 8 | vk; }

TEST_F(BackendInput, RecordsDeviceEventsAsJournalRecordsWithServerTimes) {
  user.Move(10, 10);  // before recording: not seen
  const HookHandle hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc);
  ASSERT_NE(hook, 0u);
  const std::uint32_t start = backend.GetTickCount();

  // The gaps between events, as this side made them.
  std::vector<Clock::time_point> at;
  auto mark = [&] { at.push_back(Clock::now()); };
  user.Move(100, 200), mark();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  user.Button(1, true), mark();
  std::this_thread::sleep_for(std::chrono::milliseconds(45));
  user.Button(1, false), mark();
  user.Key(kKeyA, true), mark();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  user.Key(kKeyA, false), mark();
  user.Key(kKeyRight, true), mark();
  user.Key(kKeyRight, false), mark();
  user.Button(4, true), user.Button(4, false), mark();
  user.Button(5, true), user.Button(5, false), mark();
  user.Button(3, true), mark();
  user.Button(3, false), mark();

  const std::vector<EVENTMSG> expected{
      {WM_MOUSEMOVE, 100, 200, 0, 0},
      {WM_LBUTTONDOWN, 100, 200, 0, 0},
      {WM_LBUTTONUP, 100, 200, 0, 0},
      {WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0},
      {WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0},
      {WM_KEYDOWN, Key(0x4D, 0x27), 0x8001, 0, 0},
      {WM_KEYUP, Key(0x4D, 0x27), 0x8001, 0, 0},
      {WM_MOUSEWHEEL, 100, 200, 0, 120},
      {WM_MOUSEWHEEL, 100, 200, 0, static_cast<std::uint32_t>(-120)},
      {WM_RBUTTONDOWN, 100, 200, 0, 0},
      {WM_RBUTTONUP, 100, 200, 0, 0},
  };
  ASSERT_TRUE(WaitFor([&] { return g_seen.recorded.size() >= expected.size(); }, Pump));
  ASSERT_EQ(g_seen.recorded.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EVENTMSG got = g_seen.recorded[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(got.message, expected[i].message);
    EXPECT_EQ(got.paramL, expected[i].paramL);
    EXPECT_EQ(got.paramH, expected[i].paramH);
    EXPECT_EQ(got.hwnd, expected[i].hwnd);
  }
  // Time stamps are on the tick-count clock and keep the gaps.
  EXPECT_LT(static_cast<std::int32_t>(g_seen.recorded[0].time - start), 1000);
  EXPECT_GT(static_cast<std::int32_t>(g_seen.recorded[0].time - start), -20);
  for (std::size_t i = 1; i < at.size(); ++i) {
    const auto made = std::chrono::duration_cast<std::chrono::milliseconds>(at[i] - at[i - 1]);
    const auto got =
        static_cast<std::int32_t>(g_seen.recorded[i].time - g_seen.recorded[i - 1].time);
    EXPECT_NEAR(got, made.count(), 6) << "gap before event " << i;
  }
  EXPECT_TRUE(backend.UnhookWindowsHookEx(hook));
  user.Move(20, 20);
  EXPECT_FALSE(
      WaitFor([] { return g_seen.recorded.size() > 11; }, Pump, std::chrono::milliseconds(200)));
}

// As the program's own watch procedure does: the break pauses the recording.
HookHandle g_recordHook = 0;
QtBackend* g_backend = nullptr;
LResult PausingKeyboardProc(int code, WParam wParam, LParam lParam) {
  g_backend->UnhookWindowsHookEx(g_recordHook);
  return KeyboardProc(code, wParam, lParam);
}

TEST_F(BackendInput, CtrlBreakGoesToTheKeyboardHookAndTheRecordingEndsBeforeIt) {
  g_backend = &backend;
  ASSERT_NE(backend.SetWindowsHookEx(WH_KEYBOARD_LL, &PausingKeyboardProc), 0u);
  g_recordHook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc);
  ASSERT_NE(g_recordHook, 0u);
  user.Key(kKeyPause, true);  // Pause alone is an ordinary key
  user.Key(kKeyPause, false);
  user.Key(kKeyA, true);
  user.Key(kKeyA, false);
  user.Key(kKeyCtrlL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyCtrlL, false);  // after the break: not recorded
  user.Key(kKeyB, true);
  user.Key(kKeyB, false);
  ASSERT_TRUE(WaitFor([] { return !g_seen.keys.empty(); }, Pump));
  EXPECT_FALSE(WaitFor([] { return g_seen.recorded.size() > 5 || g_seen.keys.size() > 1; }, Pump,
                       std::chrono::milliseconds(200)));
  EXPECT_EQ(g_seen.keys.size(), 1u);  // told once, though both capture and grab saw it
  EXPECT_EQ(g_seen.keyMessages[0], WM_KEYDOWN);
  EXPECT_EQ(g_seen.keys[0].vkCode, VK_CANCEL);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
      {WM_KEYDOWN, Key(0x45, VK_PAUSE)},   {WM_KEYUP, Key(0x45, VK_PAUSE)},
      {WM_KEYDOWN, Key(0x1E, 'A')},        {WM_KEYUP, Key(0x1E, 'A')},
      {WM_KEYDOWN, Key(0x1D, VK_CONTROL)},
  };
  ASSERT_EQ(g_seen.recorded.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(g_seen.recorded[i].message, expected[i].first);
    EXPECT_EQ(g_seen.recorded[i].paramL, expected[i].second);
  }
}

TEST_F(BackendInput, KeypadKeysFollowNumLock) {
  constexpr unsigned kNumLock = 77, kKeypad1 = 87;
  ASSERT_NE(backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc), 0u);
  user.Key(kKeypad1, true);  // Num Lock off: End
  user.Key(kKeypad1, false);
  user.Key(kNumLock, true);
  user.Key(kNumLock, false);
  user.Key(kKeypad1, true);  // on: the digit
  user.Key(kKeypad1, false);
  user.Key(kNumLock, true);
  user.Key(kNumLock, false);
  ASSERT_TRUE(WaitFor([] { return g_seen.recorded.size() >= 8; }, Pump));
  EXPECT_EQ(g_seen.recorded[0].paramL, Key(0x4F, 0x23));
  EXPECT_EQ(g_seen.recorded[0].paramH, 1u);
  EXPECT_EQ(g_seen.recorded[2].paramL, Key(0x45, 0x90));
  EXPECT_EQ(g_seen.recorded[2].paramH, 0x8001u);
  EXPECT_EQ(g_seen.recorded[4].paramL, Key(0x4F, 0x61));
}

TEST_F(BackendInput, AltCombinationsAreSystemKeys) {
  ASSERT_NE(backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc), 0u);
  user.Key(kKeyAltL, true);
  user.Key(kKeyX, true);
  user.Key(kKeyX, false);
  user.Key(kKeyAltL, false);
  ASSERT_TRUE(WaitFor([] { return g_seen.recorded.size() >= 4; }, Pump));
  EXPECT_EQ(g_seen.recorded[0].message, WM_SYSKEYDOWN);
  EXPECT_EQ(g_seen.recorded[0].paramL, Key(0x38, 0x12));
  EXPECT_EQ(g_seen.recorded[1].message, WM_SYSKEYDOWN);
  EXPECT_EQ(g_seen.recorded[1].paramL, Key(0x2D, 'X'));
  EXPECT_EQ(g_seen.recorded[2].message, WM_SYSKEYUP);
  EXPECT_EQ(g_seen.recorded[3].message, WM_SYSKEYUP);
}

// A journal served through the playback protocol, as the engine serves it.
struct Served {
  std::vector<std::pair<EVENTMSG, LResult>> events;  // event, wait before it
  std::size_t next = 0;
  bool handedOver = false;
  std::vector<int> calls;
  HookHandle self = 0;
  QtBackend* backend = nullptr;
};
Served g_served;

LResult PlaybackProc(int code, WParam, LParam lParam) {
  Served& s = g_served;
  s.calls.push_back(code);
  if (code == HC_SKIP) {
    ++s.next;
    s.handedOver = false;
    return 0;
  }
  if (s.next == s.events.size()) {
    s.backend->UnhookWindowsHookEx(s.self);  // from inside the call
    return 0;
  }
  *reinterpret_cast<EVENTMSG*>(lParam) = s.events[s.next].first;
  if (s.handedOver) return 0;
  s.handedOver = true;
  return s.events[s.next].second;
}

TEST_F(BackendInput, PlaybackReplaysTheJournalInOrderOnSchedule) {
  TargetWindow target(300, 300, 200, 150);
  user.Move(5, 5);
  user.FocusFollowsPointer();
  g_served = {};
  g_served.backend = &backend;
  g_served.events = {
      {{WM_MOUSEMOVE, 350, 350, 0, 0}, 40},
      {{WM_LBUTTONDOWN, 360, 370, 0, 0}, 25},
      {{WM_LBUTTONUP, 360, 370, 0, 0}, 15},
      {{WM_KEYDOWN, Key(0x1E, 'A'), 1, 0, 0}, 30},
      {{WM_KEYUP, Key(0x1E, 'A'), 1, 0, 0}, 20},
      {{WM_KEYDOWN, Key(0x4D, 0x27), 0x8001, 0, 0}, 1},
      {{WM_KEYUP, Key(0x4D, 0x27), 0x8001, 0, 0}, 1},
      {{WM_MOUSEWHEEL, 380, 390, 0, static_cast<std::uint32_t>(-120)}, 10},
  };
  g_served.self = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &PlaybackProc);
  ASSERT_NE(g_served.self, 0u);
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
      [] {
        return g_served.next == g_served.events.size() &&
               g_served.calls.size() == 3 * g_served.events.size() + 1;
      },
      Pump));
  for (std::size_t i = 0; i < g_served.events.size(); ++i) {
    EXPECT_EQ(g_served.calls[3 * i], HC_GETNEXT);
    EXPECT_EQ(g_served.calls[3 * i + 1], HC_GETNEXT);
    EXPECT_EQ(g_served.calls[3 * i + 2], HC_SKIP);
  }
  const std::size_t callsAtEnd = g_served.calls.size();
  for (int i = 0; i < 20; ++i) Pump();
  EXPECT_EQ(g_served.calls.size(), callsAtEnd);  // removed: never called again
}

TEST_F(BackendInput, LostCaptureConnectionCancelsTheJournalHook) {
  ASSERT_NE(backend.SetWindowsHookEx(WH_GETMESSAGE, &GetMessageProc), 0u);
  const HookHandle hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc);
  ASSERT_NE(hook, 0u);
  const unsigned long resource = backend.Input().CaptureConnectionResource();
  ASSERT_NE(resource, 0u);
  XKillClient(user.dpy(), resource);
  XSync(user.dpy(), False);
  ASSERT_TRUE(WaitFor(
      [] {
        return std::find(g_seen.retrieved.begin(), g_seen.retrieved.end(), WM_CANCELJOURNAL) !=
               g_seen.retrieved.end();
      },
      Pump));
  EXPECT_FALSE(backend.Input().IsRecording());
  EXPECT_FALSE(backend.UnhookWindowsHookEx(hook));  // the system removed it already
  // Why, once, for the log.
  EXPECT_EQ(backend.TakeCancelReason(),
            "The journal hooks were cancelled: the X capture connection was lost.");
  EXPECT_EQ(backend.TakeCancelReason(), "");

  // Recording works again afterwards, on a new connection.
  ASSERT_NE(backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc), 0u);
  user.Move(123, 45);
  ASSERT_TRUE(WaitFor([] { return !g_seen.recorded.empty(); }, Pump));
  EXPECT_EQ(g_seen.recorded.back().paramL, 123u);
}

TEST_F(BackendInput, PlaybackSkipsRecordsItCannotReplay) {
  TargetWindow target(300, 300, 200, 150);
  g_served = {};
  g_served.backend = &backend;
  g_served.events = {
      {{0x9999, 1, 2, 0, 0}, 5},                   // not an input message
      {{WM_KEYDOWN, 0x7F00, 1, 0, 0}, 5},          // no such key
      {{WM_KEYDOWN, Key(0x00, 'B'), 1, 0, 0}, 5},  // no scan code: by its virtual key
      {{WM_KEYUP, Key(0x00, 'B'), 1, 0, 0}, 5},
      {{WM_MOUSEMOVE, 0xFFFFFFF6u, 0xFFFFFFF6u, 0, 0}, 5},  // off screen
      {{WM_MOUSEMOVE, 350, 360, 0, 0}, 5},
  };
  user.Move(320, 320);
  user.FocusFollowsPointer();
  g_served.self = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &PlaybackProc);
  ASSERT_NE(g_served.self, 0u);
  auto pump = [&] {
    Pump();
    target.Pump();
  };
  ASSERT_TRUE(WaitFor([&] { return g_served.next == g_served.events.size(); }, pump));
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

// Ctrl+Break pauses whatever else the user (or a journal) holds or locks.
TEST_F(BackendInput, CtrlBreakReachesTheKeyboardHookWhateverModifierIsHeldOrLocked) {
  ASSERT_NE(backend.SetWindowsHookEx(WH_KEYBOARD_LL, &KeyboardProc), 0u);
  struct Modifier {
    const char* name;
    KeySym key;
    bool locks;
  };
  const Modifier modifiers[] = {
      {"Shift", XK_Shift_L, false},      {"Alt", XK_Alt_L, false},
      {"logo", XK_Super_L, false},       {"AltGr", XK_ISO_Level3_Shift, false},
      {"Caps Lock", XK_Caps_Lock, true}, {"Num Lock", XK_Num_Lock, true},
  };
  for (const Modifier& m : modifiers) {
    SCOPED_TRACE(m.name);
    const unsigned keycode = XKeysymToKeycode(user.dpy(), m.key);
    const unsigned mask = XkbKeysymToModifiers(user.dpy(), m.key);
    ASSERT_NE(keycode, 0u);
    ASSERT_NE(mask, 0u);
    g_seen.keys.clear();
    user.Key(keycode, true);
    if (m.locks) user.Key(keycode, false);
    XkbStateRec state{};
    XkbGetState(user.dpy(), XkbUseCoreKbd, &state);
    ASSERT_NE(state.mods & mask, 0u) << "the modifier is in effect";
    user.Key(kKeyCtrlL, true);
    user.Key(kKeyPause, true);
    user.Key(kKeyPause, false);
    user.Key(kKeyCtrlL, false);
    EXPECT_TRUE(WaitFor([] { return !g_seen.keys.empty(); }, Pump));
    if (!g_seen.keys.empty()) {
      EXPECT_EQ(g_seen.keys[0].vkCode, VK_CANCEL);
    }
    if (m.locks) user.Key(keycode, true);
    user.Key(keycode, false);
  }
  // Pause without Control stays an ordinary key, with any modifier.
  g_seen.keys.clear();
  user.Key(kKeyShiftL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyShiftL, false);
  EXPECT_FALSE(WaitFor([] { return !g_seen.keys.empty(); }, Pump, std::chrono::milliseconds(200)));
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
struct Paced {
  std::vector<std::uint64_t> dueUs;  // from the start
  std::uint64_t startUs = 0;
  std::size_t next = 0;
  bool handedOver = false;
  int earlyRepeats = 0;
  int fresh = 0;
  int skips = 0;
  bool ended = false;
  HookHandle self = 0;
  QtBackend* backend = nullptr;
};
Paced g_paced;

LResult PacedProc(int code, WParam, LParam lParam) {
  Paced& p = g_paced;
  if (code == HC_SKIP) {
    ++p.skips;
    ++p.next;
    p.handedOver = false;
    return 0;
  }
  const std::uint64_t now = p.backend->GetMicroseconds();
  if (p.startUs == 0) p.startUs = now;
  auto* e = reinterpret_cast<EVENTMSG*>(lParam);
  *e = EVENTMSG{WM_MOUSEMOVE, static_cast<std::uint32_t>(310 + p.next), 320, 0, 0};
  const auto left =
      static_cast<std::int64_t>(p.startUs + p.dueUs[p.next]) - static_cast<std::int64_t>(now);
  if (!p.handedOver) {
    p.handedOver = true;
    ++p.fresh;
    return std::max<std::int64_t>(1, (left + 500) / 1000);
  }
  if (left > 500) {
    ++p.earlyRepeats;
    return std::max<std::int64_t>(1, (left + 500) / 1000);
  }
  if (p.next + 1 == p.dueUs.size()) p.ended = p.backend->UnhookWindowsHookEx(p.self);
  return 0;
}

TEST_F(BackendInput, PlaybackAsksAgainWhenDueAndNeverReplaysTheLastRecord) {
  TargetWindow target(300, 300, 200, 150);
  user.Move(5, 5);
  g_paced = {};
  g_paced.backend = &backend;
  // Gaps of 0.6 to 3.4 ms: waits finer than a millisecond.
  std::uint64_t due = 2000;
  for (int i = 0; i < 40; ++i) {
    g_paced.dueUs.push_back(due);
    due += 600 + static_cast<std::uint64_t>(i % 8) * 400;
  }
  g_paced.self = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &PacedProc);
  ASSERT_NE(g_paced.self, 0u);
  auto pump = [&] {
    Pump();
    target.Pump();
  };
  const std::size_t last = g_paced.dueUs.size() - 1;
  ASSERT_TRUE(
      WaitFor([&] { return g_paced.ended && target.Of(MotionNotify).size() >= last; }, pump));
  // The pass ended inside the repeated call: nothing more is asked or replayed.
  EXPECT_FALSE(backend.UnhookWindowsHookEx(g_paced.self));
  for (int i = 0; i < 20; ++i) pump();
  const auto moves = target.Of(MotionNotify);
  ASSERT_EQ(moves.size(), last);
  for (std::size_t i = 0; i < last; ++i) EXPECT_EQ(moves[i].x_root, static_cast<int>(310 + i));
  EXPECT_EQ(g_paced.skips, static_cast<int>(last));
  EXPECT_EQ(g_paced.fresh, static_cast<int>(last + 1));
  // The timer never wakes before the time it was given.
  EXPECT_EQ(g_paced.earlyRepeats, 0);
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
  g_served = {};
  g_served.backend = &backend;
  g_served.events = {{{WM_MOUSEMOVE, 350, 350, 0, 0}, 2}, {{WM_MOUSEMOVE, 360, 360, 0, 0}, 2}};
  g_served.self = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &PlaybackProc);
  ASSERT_NE(g_served.self, 0u);
  ASSERT_TRUE(WaitFor([] { return g_served.next == g_served.events.size(); }, Pump));
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

}  // namespace
}  // namespace vesk::testing
