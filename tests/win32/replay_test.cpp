// Low-level replay for real under Wine: journals played on schedule, what
// ends a playback, the desktop's edges, wheel turns and scaled screens.
#include "common/recording_sink.h"
#include "input_support.h"

namespace vesk::testing {
namespace {

using LowLevelReplay = InputTest;

TEST_F(LowLevelReplay, JournalPlaysIntoAnEditOnScheduleAndMovesThePointer) {
  // The same bytes a recording on Linux saves.
  const EVENTMSG events[] = {
      {WM_MOUSEMOVE, 300, 200, 0, 0},  {WM_LBUTTONDOWN, 300, 200, 40, 0},
      {WM_LBUTTONUP, 300, 200, 40, 0}, {WM_KEYDOWN, 0x2348, 1, 60, 0},
      {WM_KEYUP, 0x2348, 1, 30, 0},    {WM_KEYDOWN, 0x1749, 1, 30, 0},
      {WM_KEYUP, 0x1749, 1, 30, 0},    {WM_MOUSEMOVE, 520, 260, 70, 0},
  };
  std::string bytes;
  for (const EVENTMSG& e : events) {
    char record[kJournalRecordSize];
    EncodeEntry(JournalEntry{1, e}, record);
    bytes.append(record, sizeof(record));
  }
  Journal journal;
  AppendRecords(bytes, journal);
  ASSERT_EQ(journal.Size(), std::size(events));
  std::vector<EVENTMSG> played;
  for (std::size_t i = 0; i < journal.Size(); ++i) played.push_back(journal.At(i).event);

  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  TargetEdit target(100, 100, 500, 200);
  ::SetCursorPos(10, 10);
  std::int64_t start = 0;
  const int result = PlayThroughHooks(backend, played, [&] {
    EXPECT_TRUE(backend.EmulatingJournal(WH_JOURNALPLAYBACK));
    start = NowUs();
  });
  EXPECT_EQ(result, 1) << "playback did not finish";

  ASSERT_EQ(g_log.processedAtUs.size(), std::size(events));
  ASSERT_TRUE(PumpUntil([&] { return target.Text() == "hi"; }, 5000)) << target.Text();
  POINT cursor{};
  ::GetCursorPos(&cursor);
  EXPECT_EQ(cursor.x, 520);
  EXPECT_EQ(cursor.y, 260);

  // Absolute schedule: each event is consumed no earlier than the sum of
  // the waits before it.
  std::int64_t due = 0;
  std::int64_t worst = 0;
  for (std::size_t i = 0; i < std::size(events); ++i) {
    due += static_cast<std::int64_t>(events[i].time) * 1000;
    const std::int64_t late = g_log.processedAtUs[i] - start - due;
    EXPECT_GE(late, -1000) << "event " << i << " came early";
    worst = std::max(worst, late);
  }
  // How late is measured, not asserted: a loaded machine makes any bound
  // a coin toss (the benchmarks watch speed).
  RecordProperty("worst_lateness_us", std::to_string(worst));
  std::printf("replay: %zu events, worst lateness %lld us\n", std::size(events),
              static_cast<long long>(worst));
  EXPECT_FALSE(backend.EmulatingJournal(WH_JOURNALPLAYBACK));
  InstallBackend(nullptr);
}

// What Windows reports with an administrator's window in front, or with
// the screen locked: playback ends with the reason, and nothing is sent.
TEST_F(LowLevelReplay, AnElevatedWindowOrALockedDesktopEndsPlaybackWithItsLine) {
  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  ASSERT_NE(backend.SetWindowsHookEx(WH_GETMESSAGE, &WatchMessages), 0u);
  win32::InjectionFacts elevated;
  elevated.foregroundIntegrity = SECURITY_MANDATORY_HIGH_RID;
  win32::InjectionFacts locked;
  locked.inputDesktopOurs = false;
  for (const auto& [facts, line] :
       {std::pair{elevated, win32::CancelReasonText(win32::CancelCause::ElevatedWindow)},
        {locked, win32::CancelReasonText(win32::CancelCause::DesktopCannotTakeInput)}}) {
    SCOPED_TRACE(line);
    g_retrieved.clear();
    g_log.processedAtUs.clear();
    backend.Hooks().SetFactsSource([f = facts] { return f; });
    ::SetCursorPos(640, 500);
    EXPECT_EQ(
        PlayThroughHooks(backend, {{WM_MOUSEMOVE, 100, 100, 0, 0}, {WM_KEYDOWN, 0x1E41, 1, 0, 0}}),
        -5);  // ended by the cancellation
    EXPECT_EQ(std::count(g_retrieved.begin(), g_retrieved.end(), WM_CANCELJOURNAL), 1);
    EXPECT_FALSE(backend.EmulatingJournal(WH_JOURNALPLAYBACK));
    EXPECT_EQ(backend.TakeCancelReason(), line);
    POINT p{};
    ::GetCursorPos(&p);
    EXPECT_EQ(p.x, 640);
    EXPECT_EQ(p.y, 500);
    EXPECT_TRUE(g_log.processedAtUs.empty());
  }
  EXPECT_EQ(win32::CancelReasonText(win32::CancelCause::ElevatedWindow),
            "Cannot send input to an elevated window; run Vesk as administrator to automate it.");
  InstallBackend(nullptr);
}

TEST_F(LowLevelReplay, MovesBeyondTheDesktopsEdgesStopAtThem) {
  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  const int right = ::GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1;
  ::SetCursorPos(640, 500);
  // A journal from a desktop with a monitor left of the primary one.
  ASSERT_EQ(PlayThroughHooks(backend, {{WM_MOUSEMOVE, static_cast<std::uint32_t>(-100), 5, 0, 0}}),
            1);
  POINT p{};
  ::GetCursorPos(&p);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 5);
  ASSERT_EQ(PlayThroughHooks(backend, {{WM_MOUSEMOVE, 5000, static_cast<std::uint32_t>(-7), 0, 0}}),
            1);
  ::GetCursorPos(&p);
  EXPECT_EQ(p.x, right);
  EXPECT_EQ(p.y, 0);
  InstallBackend(nullptr);
}

// A window on a thread of its own noting where clicks land, in physical
// screen pixels.
class ClickTarget {
 public:
  ClickTarget(int x, int y, int width, int height) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND hwnd, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == WM_LBUTTONDOWN) {
        POINT p{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
        ::ClientToScreen(hwnd, &p);
        s_clicks.push_back(p);
      }
      if (m == WM_MOUSEWHEEL) s_wheels.push_back(GET_WHEEL_DELTA_WPARAM(w));
      return ::DefWindowProcA(hwnd, m, w, l);
    };
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "VeskTestClicks";
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    ::RegisterClassA(&wc);
    s_clicks.clear();
    s_wheels.clear();
    hwnd_ = ::CreateWindowExA(0, wc.lpszClassName, "clicks", WS_POPUP | WS_VISIBLE, x, y, width,
                              height, nullptr, nullptr, wc.hInstance, nullptr);
    ::SetForegroundWindow(hwnd_);
    PumpUntil([] { return false; }, 100);
  }
  ~ClickTarget() { ::DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  static inline std::vector<POINT> s_clicks;
  static inline std::vector<int> s_wheels;

 private:
  HWND hwnd_ = nullptr;
};

TEST_F(LowLevelReplay, WheelTurnsAreRecordedAndReplayedAsTheSameDelta) {
  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  g_log.backend = &backend;
  ClickTarget target(200, 200, 400, 300);
  g_log.hook = backend.SetWindowsHookEx(WH_JOURNALRECORD, &CollectRecord);
  ASSERT_NE(g_log.hook, 0u);
  ASSERT_TRUE(Xdotool("mousemove 400 350 click 4 click 5 click 5"));  // up, down, down
  ASSERT_TRUE(PumpUntil([] { return Count(g_log.recorded, WM_MOUSEWHEEL) == 3; }, 10000))
      << Dump(g_log.recorded);
  backend.UnhookWindowsHookEx(g_log.hook);
  ASSERT_TRUE(PumpUntil([] { return ClickTarget::s_wheels.size() == 3; }, 5000));
  const std::vector<int> live = ClickTarget::s_wheels;
  std::vector<EVENTMSG> wheel;
  for (const EVENTMSG& e : g_log.recorded) {
    if (e.message == WM_MOUSEWHEEL) wheel.push_back({e.message, e.paramL, e.paramH, 20, e.hwnd});
  }
  EXPECT_EQ(static_cast<std::int32_t>(wheel[0].hwnd), 120);
  EXPECT_EQ(static_cast<std::int32_t>(wheel[1].hwnd), -120);
  EXPECT_EQ(wheel[0].paramL, 400u);

  ClickTarget::s_wheels.clear();
  ASSERT_EQ(PlayThroughHooks(backend, wheel), 1);
  ASSERT_TRUE(PumpUntil([] { return ClickTarget::s_wheels.size() == 3; }, 5000))
      << ClickTarget::s_wheels.size();
  EXPECT_EQ(ClickTarget::s_wheels, live);
  EXPECT_EQ(ClickTarget::s_wheels, (std::vector<int>{120, -120, -120}));
  InstallBackend(nullptr);
}

// Run in a process of its own per DPI (see main.cpp: --dpi), with the
// Wine prefix's LogPixels set before it started.
TEST(Dpi, JournalClickLandsOnTheSamePhysicalPixelAndDialogTextFits) {
  const char* expected = std::getenv("VESK_EXPECT_DPI");
  if (expected == nullptr) GTEST_SKIP() << "run through --dpi=N";
  const int dpi = std::atoi(expected);
  HDC screen = ::GetDC(nullptr);
  const int logPixels = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  ASSERT_EQ(logPixels, dpi) << "the prefix's LogPixels did not take";
  EXPECT_GE(win32::CurrentDpiAwareness(), win32::DpiAwareness::PerMonitor);

  Win32Backend backend(JournalMode::LowLevel);
  InstallBackend(&backend);
  {
    ClickTarget target(300, 200, 600, 400);
    const std::uint32_t x = 777;
    const std::uint32_t y = 444;
    ASSERT_EQ(PlayThroughHooks(backend, {{WM_MOUSEMOVE, x, y, 0, 0},
                                         {WM_LBUTTONDOWN, x, y, 20, 0},
                                         {WM_LBUTTONUP, x, y, 20, 0}}),
              1);
    ASSERT_TRUE(PumpUntil([] { return !ClickTarget::s_clicks.empty(); }, 5000));
    EXPECT_EQ(ClickTarget::s_clicks.front().x, 777);
    EXPECT_EQ(ClickTarget::s_clicks.front().y, 444);
    RECT r{};
    ::GetWindowRect(target.hwnd(), &r);
    EXPECT_EQ(r.left, 300);  // physical, as created
    EXPECT_EQ(r.right, 900);
  }

  // Every caption fits its control in the font the dialog was laid out in.
  RecordingSink sink;
  for (const int id : {kMainDialogTemplate, kSettingsDialogTemplate}) {
    const DialogTemplate& t = *FindDialogTemplate(id);
    const WindowId w = backend.CreateDialogWindow(t, 0, &sink);
    ASSERT_NE(w, 0u);
    HWND dialog = reinterpret_cast<HWND>(w);
    const auto font = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(dialog);
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICA tm{};
    ::GetTextMetricsA(dc, &tm);
    // Laid out for the DPI, not stretched: the font has the pixels the
    // DPI asks for.
    EXPECT_GE(tm.tmHeight + 1, t.fontPoints * dpi / 72) << "template " << id;
    for (const ControlTemplate& c : t.controls) {
      if (c.text == nullptr || *c.text == '\0' || c.id == -1) continue;
      if (c.kind == ControlKind::Edit || c.kind == ControlKind::ListBox ||
          c.kind == ControlKind::UpDown) {
        continue;
      }
      HWND control = ::GetDlgItem(dialog, c.id);
      ASSERT_NE(control, nullptr);
      RECT box{};
      ::GetClientRect(control, &box);
      std::string text = c.text;
      std::erase(text, '&');
      RECT need{0, 0, box.right, 0};
      const DWORD type = c.style & SS_TYPEMASK;
      const bool wraps = c.kind == ControlKind::StaticText &&
                         (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
      ::DrawTextA(dc, text.c_str(), -1, &need,
                  DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
      int room = box.right;
      if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton) {
        room -= ::GetSystemMetrics(SM_CXMENUCHECK) + 2;  // the box drawn before the text
      }
      EXPECT_LE(need.right - need.left, room) << "\"" << text << "\" at " << dpi << " dpi";
      EXPECT_LE(need.bottom - need.top, box.bottom) << "\"" << text << "\" at " << dpi << " dpi";
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(dialog, dc);
    backend.DestroyWindow(w);
  }
  InstallBackend(nullptr);
}

}  // namespace
}  // namespace vesk::testing
