// Capture on a real X server: what RECORD turns into journal records, the
// Ctrl+Break grab whatever modifier is held, and a lost capture connection.
#include <X11/Xatom.h>

#include "input_fixture.h"

namespace vesk::testing {
namespace {

// The X server's clock, read as the time of a property change.
class ServerClock {
 public:
  ServerClock() : dpy_(OpenDisplay()) {
    window_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(dpy_, window_, PropertyChangeMask);
  }
  ~ServerClock() { XCloseDisplay(dpy_); }
  unsigned long Now() {
    XChangeProperty(dpy_, window_, XA_WM_NAME, XA_STRING, 8, PropModeReplace, nullptr, 0);
    XEvent ev;
    XWindowEvent(dpy_, window_, PropertyChangeMask, &ev);
    return ev.xproperty.time;
  }

 private:
  Display* dpy_;
  Window window_ = 0;
};

TEST_F(BackendInput, RecordsDeviceEventsAsJournalRecordsWithServerTimes) {
  user.Move(10, 10);                       // before recording: not seen
  TargetWindow target(50, 150, 200, 200);  // sees the same input, with the server's times
  user.FocusFollowsPointer();
  ServerClock server;
  const HookHandle hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &RecordProc);
  ASSERT_NE(hook, 0u);
  const std::uint32_t start = backend.GetTickCount();

  // Gaps made on the server's clock: the target has the last event, and the
  // server's time has moved on by ms since it.
  auto gap = [&](unsigned long ms) {
    ASSERT_TRUE(WaitFor([&] { return target.Pump(), !target.Got().empty(); }, [] {}));
    const unsigned long last = target.Got().back().time;
    ASSERT_TRUE(WaitFor([&] { return server.Now() - last >= ms; }, [] {}));
  };
  user.Move(100, 200);
  gap(30);
  user.Button(1, true);
  gap(45);
  user.Button(1, false), user.Key(kKeyA, true);
  gap(20);
  user.Key(kKeyA, false), user.Key(kKeyRight, true), user.Key(kKeyRight, false);
  user.Button(4, true), user.Button(4, false), user.Button(5, true), user.Button(5, false);
  user.Button(3, true), user.Button(3, false);

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
  // Time stamps are on the tick-count clock and keep the server's gaps
  // (a wheel turn is one record: its button's release is not one).
  EXPECT_LT(static_cast<std::int32_t>(g_seen.recorded[0].time - start), 1000);
  EXPECT_GT(static_cast<std::int32_t>(g_seen.recorded[0].time - start), -20);
  std::vector<unsigned long> times;
  ASSERT_TRUE(WaitFor([&] { return target.Pump(), target.Got().size() == 13; }, [] {}));
  for (const ReceivedInput& r : target.Got()) {
    if (r.type != ButtonRelease || (r.detail != 4 && r.detail != 5)) times.push_back(r.time);
  }
  ASSERT_EQ(times.size(), expected.size());
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_EQ(g_seen.recorded[i].time - g_seen.recorded[i - 1].time, times[i] - times[i - 1])
        << "gap before event " << i;
  }
  EXPECT_GE(g_seen.recorded[2].time - g_seen.recorded[1].time, 45u);
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

}  // namespace
}  // namespace vesk::testing
