// Qt headers come first: Xlib's macros (None, Bool, KeyPress...) break them.
#include <QGuiApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/x11/x11_input.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/x11/break_grab.h"
#include "platform/x11/key_map.h"
#include "platform/x11/x11_errors.h"
#include "platform/x11/xtest_replay.h"

namespace vesk::x11 {
namespace {

constexpr int kKeepAliveMs = 20;     // RECORD data is held by the server until a flush
constexpr int kDrainLimitMs = 500;   // stopping waits at most this for end-of-data
constexpr int kBreakCatchUpMs = 30;  // capture catches up before a Ctrl+Break is handled

std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct X11Input::State {
  Callbacks cb;
  QObject context;

  State() {
    QObject::connect(&keepAlive, &QTimer::timeout, &context, [this] { KeepAlive(); });
  }

  Display* ctrl = nullptr;
  bool ctrlDead = false;
  Display* data = nullptr;
  bool dataDead = false;
  unsigned long dataResource = 0;
  unsigned long ctrlResource = 0;
  std::int64_t timeOffset = 0;

  XRecordContext recordContext = 0;
  bool contextEnabled = false;
  bool recording = false;
  bool endOfData = false;
  bool teardownQueued = false;
  // Captured events, and where in them Ctrl+Break was pressed.
  struct Captured {
    EVENTMSG event;
    bool isBreak;
  };
  std::vector<Captured> captured;
  std::uint32_t lastBreakTime = 0;
  bool anyBreak = false;
  QSocketNotifier* dataNotifier = nullptr;
  QSocketNotifier* ctrlNotifier = nullptr;
  QTimer keepAlive;

  int xtestEvent = 0;
  bool xtestChecked = false;
  bool xtestPresent = false;

  BreakGrab grab;
  unsigned pauseKeycode = 0;
  unsigned ctrlKeycodes[2] = {0, 0};
  unsigned altKeycodes[2] = {0, 0};
  unsigned numLockMask = 0;
  unsigned numLockKeycode = 0;
  // Num Lock as of the event being translated: read from the server when
  // capture starts, then followed through the captured stream itself
  // (the server's state has moved on by the time the data arrives).
  bool numLockOn = false;
  bool ctrlDown[2] = {false, false};
  bool altDown[2] = {false, false};

  // ------------------------------------------------------------ connections

  bool Connect() {
    if (ctrl != nullptr) return true;
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
      std::fprintf(stderr, "vesk: cannot open the X display\n");
      return false;
    }
    ctrlDead = false;
    AdoptConnection(d, &ctrlDead);
    ctrl = d;
    pauseKeycode = XKeysymToKeycode(d, XK_Pause);
    ctrlKeycodes[0] = XKeysymToKeycode(d, XK_Control_L);
    ctrlKeycodes[1] = XKeysymToKeycode(d, XK_Control_R);
    altKeycodes[0] = XKeysymToKeycode(d, XK_Alt_L);
    altKeycodes[1] = XKeysymToKeycode(d, XK_Alt_R);
    numLockMask = XkbKeysymToModifiers(d, XK_Num_Lock);
    numLockKeycode = XKeysymToKeycode(d, XK_Num_Lock);
    MeasureServerTime();
    ctrlResource = XCreatePixmap(d, DefaultRootWindow(d), 1, 1,
                                 static_cast<unsigned>(DefaultDepth(d, DefaultScreen(d))));
    ctrlNotifier = new QSocketNotifier(ConnectionNumber(d), QSocketNotifier::Read, &context);
    QObject::connect(ctrlNotifier, &QSocketNotifier::activated, &context,
                     [this] { ReadControlEvents(); });
    return true;
  }

  void MeasureServerTime() {
    // A property change is stamped with the server's clock: the one the
    // captured events carry.
    const Window root = DefaultRootWindow(ctrl);
    XSetWindowAttributes attrs{};
    attrs.event_mask = PropertyChangeMask;
    const Window w =
        XCreateWindow(ctrl, root, -10, -10, 1, 1, 0, 0, InputOnly, nullptr, CWEventMask, &attrs);
    const Atom atom = XInternAtom(ctrl, "VESK_TIME", False);
    const std::int64_t before = MonotonicMs();
    XChangeProperty(ctrl, w, atom, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent ev{};
    XWindowEvent(ctrl, w, PropertyChangeMask, &ev);
    const std::int64_t after = MonotonicMs();
    if (!ctrlDead) {
      const auto mid = static_cast<std::uint32_t>((before + after) / 2);
      timeOffset = static_cast<std::int32_t>(static_cast<std::uint32_t>(ev.xproperty.time) - mid);
    }
    XDestroyWindow(ctrl, w);
    XFlush(ctrl);
  }

  bool Alive() {
    if (ctrlDead || dataDead) {
      Lost(ctrlDead ? "the X control connection was lost" : "the X capture connection was lost");
      return false;
    }
    return ctrl != nullptr;
  }

  void Lost(const std::string& why) {
    // A dead Display cannot be closed safely; it is left behind once.
    keepAlive.stop();
    delete dataNotifier;
    dataNotifier = nullptr;
    delete ctrlNotifier;
    ctrlNotifier = nullptr;
    if (ctrlDead) {
      ForgetConnection(ctrl);
      ctrl = nullptr;
      grab = BreakGrab{};
      xtestChecked = false;
      if (data != nullptr && !dataDead) {
        ForgetConnection(data);
        XCloseDisplay(data);
      }
      data = nullptr;
    } else if (data != nullptr) {
      ForgetConnection(data);
      data = nullptr;
      // The context belongs to the control connection: free it there.
      if (recordContext != 0) XRecordFreeContext(ctrl, recordContext);
      XFlush(ctrl);
      ctrlNotifier = new QSocketNotifier(ConnectionNumber(ctrl), QSocketNotifier::Read, &context);
      QObject::connect(ctrlNotifier, &QSocketNotifier::activated, &context,
                       [this] { ReadControlEvents(); });
    }
    recordContext = 0;
    contextEnabled = false;
    recording = false;
    captured.clear();
    ctrlDead = false;
    dataDead = false;
    std::fprintf(stderr, "vesk: %s\n", why.c_str());
    if (cb.lost) {
      QTimer::singleShot(0, &context, [this, why] {
        if (cb.lost) cb.lost(why);
      });
    }
  }

  // ------------------------------------------------------------ capture

  static void OnRecord(XPointer closure, XRecordInterceptData* d) {
    auto* self = reinterpret_cast<State*>(closure);
    if (d->category == XRecordEndOfData) self->endOfData = true;
    if (d->category == XRecordFromServer && d->data_len * 4 >= sizeof(xEvent)) {
      self->Translate(*reinterpret_cast<const xEvent*>(d->data));
    }
    XRecordFreeData(d);
  }

  bool StartRecording() {
    if (!Connect()) return false;
    if (contextEnabled) {  // a stop is still pending: keep the context
      recording = true;
      return true;
    }
    int major = 0;
    int minor = 0;
    if (!XRecordQueryVersion(ctrl, &major, &minor)) {
      std::fprintf(stderr, "vesk: the X server has no RECORD extension\n");
      return false;
    }
    if (data == nullptr) {
      data = XOpenDisplay(DisplayString(ctrl));
      if (data == nullptr) {
        std::fprintf(stderr, "vesk: cannot open a capture connection\n");
        return false;
      }
      dataDead = false;
      AdoptConnection(data, &dataDead);
      // A resource that names this connection (the connection itself has
      // no id): what a test kills it by.
      dataResource = XCreatePixmap(data, DefaultRootWindow(data), 1, 1,
                                   static_cast<unsigned>(DefaultDepth(data, DefaultScreen(data))));
      XSync(data, False);
    }
    XRecordRange* range = XRecordAllocRange();
    range->device_events.first = KeyPress;
    range->device_events.last = MotionNotify;
    XRecordClientSpec clients = XRecordAllClients;
    recordContext = XRecordCreateContext(ctrl, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(ctrl, False);
    if (recordContext == 0 || !Alive()) return false;
    endOfData = false;
    if (!XRecordEnableContextAsync(data, recordContext, &OnRecord,
                                   reinterpret_cast<XPointer>(this))) {
      std::fprintf(stderr, "vesk: cannot enable capture\n");
      XRecordFreeContext(ctrl, recordContext);
      recordContext = 0;
      return false;
    }
    XFlush(data);
    contextEnabled = true;
    recording = true;
    ctrlDown[0] = ctrlDown[1] = altDown[0] = altDown[1] = false;
    numLockOn = NumLockOn();
    dataNotifier = new QSocketNotifier(ConnectionNumber(data), QSocketNotifier::Read, &context);
    QObject::connect(dataNotifier, &QSocketNotifier::activated, &context, [this] { Pump(); });
    keepAlive.start(kKeepAliveMs);
    return true;
  }

  void KeepAlive() {
    if (ctrl == nullptr) return;
    XSync(ctrl, False);
    if (!Alive()) return;
    Pump();
    ReadControlEvents();
  }

  // Reads what the capture connection has and hands it on.
  void Pump() {
    if (data == nullptr) return;
    XRecordProcessReplies(data);
    if (!Alive()) return;
    Deliver();
  }

  void Deliver() {
    std::vector<Captured> batch;
    batch.swap(captured);
    for (const Captured& c : batch) {
      if (c.isBreak) {
        // In its place in the stream: what came after it is not recorded.
        DeliverBreak(c.event.time);
        continue;
      }
      // The hook may be removed by any of these calls.
      if (!recording || !cb.recorded) break;
      cb.recorded(c.event);
    }
  }

  // Each Ctrl+Break once, whether the capture or the grab told of it first.
  void DeliverBreak(std::uint32_t time) {
    if (anyBreak && time == lastBreakTime) return;
    anyBreak = true;
    lastBreakTime = time;
    if (cb.breakPressed) cb.breakPressed(time);
  }

  void StopRecording() {
    recording = false;
    captured.clear();
    if (!contextEnabled || teardownQueued) return;
    // Not from inside a capture callback: later, from the event loop.
    teardownQueued = true;
    QTimer::singleShot(0, &context, [this] {
      teardownQueued = false;
      if (!recording) Teardown();
    });
  }

  void Teardown() {
    if (!contextEnabled || ctrl == nullptr) return;
    keepAlive.stop();
    delete dataNotifier;
    dataNotifier = nullptr;
    XRecordDisableContext(ctrl, recordContext);
    XSync(ctrl, False);
    const std::int64_t until = MonotonicMs() + kDrainLimitMs;
    while (!endOfData && !ctrlDead && !dataDead && MonotonicMs() < until) {
      XRecordProcessReplies(data);
      if (endOfData) break;
      pollfd p{ConnectionNumber(data), POLLIN, 0};
      poll(&p, 1, 20);
    }
    captured.clear();
    contextEnabled = false;
    if (!Alive()) return;
    XRecordFreeContext(ctrl, recordContext);
    recordContext = 0;
    XSync(ctrl, False);
    Alive();
  }

  bool IsDown(const bool (&down)[2]) const { return down[0] || down[1]; }

  void Translate(const xEvent& ev) {
    const int type = ev.u.u.type & 0x7F;
    const auto time = static_cast<std::uint32_t>(ev.u.keyButtonPointer.time);
    const auto x =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(ev.u.keyButtonPointer.rootX));
    const auto y =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(ev.u.keyButtonPointer.rootY));
    const unsigned detail = ev.u.u.detail;
    EVENTMSG e{};
    e.time = time;
    switch (type) {
      case MotionNotify:
        e.message = WM_MOUSEMOVE;
        e.paramL = x;
        e.paramH = y;
        break;
      case ButtonPress:
      case ButtonRelease: {
        const bool down = type == ButtonPress;
        e.paramL = x;
        e.paramH = y;
        if (detail == 1) e.message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        if (detail == 2) e.message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        if (detail == 3) e.message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        if (detail == 8 || detail == 9) {
          // Back and forward: the side button rides in the window handle field.
          e.message = down ? WM_XBUTTONDOWN : WM_XBUTTONUP;
          e.hwnd = detail == 8 ? XBUTTON1 : XBUTTON2;
        }
        if (detail >= 4 && detail <= 7 && down) {
          // The direction rides in the window handle field, so that it
          // replays the same way: away from the user and to the right are
          // positive.
          e.message = detail <= 5 ? WM_MOUSEWHEEL : WM_MOUSEHWHEEL;
          e.hwnd = static_cast<std::uint32_t>(detail == 4 || detail == 7 ? 120 : -120);
        }
        if (e.message == 0) return;  // wheel releases, buttons beyond 9
        break;
      }
      case KeyPress:
      case KeyRelease: {
        const bool down = type == KeyPress;
        for (int i = 0; i < 2; ++i) {
          if (detail == ctrlKeycodes[i]) ctrlDown[i] = down;
          if (detail == altKeycodes[i]) altDown[i] = down;
        }
        // Ctrl+Break belongs to the low-level hook, never to the journal.
        if (detail == pauseKeycode && IsDown(ctrlDown)) {
          if (down) captured.push_back({e, true});
          return;
        }
        const std::optional<ScanCode> scan = ScanFromKeycode(detail);
        KeySym sym = XkbKeycodeToKeysym(ctrl, static_cast<KeyCode>(detail), 0, 0);
        if (down && detail == numLockKeycode) numLockOn = !numLockOn;
        if (IsKeypadKeysym(sym) && numLockOn) {
          const KeySym numeric = XkbKeycodeToKeysym(ctrl, static_cast<KeyCode>(detail), 0, 1);
          if (numeric != NoSymbol) sym = numeric;
        }
        std::uint32_t vk = VkFromKeysym(sym);
        if (vk == 0 && scan) vk = VkFromScanUs(*scan);
        const bool altKey = detail == altKeycodes[0] || detail == altKeycodes[1];
        const bool sys = (IsDown(altDown) || (altKey && !down)) && !IsDown(ctrlDown);
        e.message = sys ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
        const std::uint32_t code = scan ? scan->code : 0;
        e.paramL = ((code & 0xFFu) << 8) | (vk & 0xFFu);
        e.paramH = 1u | (scan && scan->extended ? 0x8000u : 0u);
        break;
      }
      default:
        return;
    }
    captured.push_back({e, false});
  }

  bool NumLockOn() {
    if (numLockMask == 0 || ctrl == nullptr) return false;
    XkbStateRec st{};
    if (XkbGetState(ctrl, XkbUseCoreKbd, &st) != Success) return false;
    return (st.locked_mods & numLockMask) != 0;
  }

  // ------------------------------------------------------------ replay

  bool CanInject() {
    if (!Connect()) return false;
    if (!xtestChecked) {
      int eventBase = 0, errorBase = 0, major = 0, minor = 0;
      xtestPresent = XTestQueryExtension(ctrl, &eventBase, &errorBase, &major, &minor) != 0;
      xtestChecked = true;
      if (!xtestPresent) std::fprintf(stderr, "vesk: the X server has no XTEST extension\n");
    }
    return xtestPresent && Alive();
  }

  std::uint32_t Send(const EVENTMSG* events, std::size_t count) {
    if (!CanInject()) return 0;
    std::uint32_t sent = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (QueueXTestReplay(ctrl, events[i])) ++sent;
    }
    XSync(ctrl, False);
    if (!Alive()) return 0;
    // The round trip may have brought events the socket will not announce.
    if (XEventsQueued(ctrl, QueuedAlready) > 0) {
      QTimer::singleShot(0, &context, [this] { ReadControlEvents(); });
    }
    return sent;
  }

  // ------------------------------------------------------------ Ctrl+Break

  bool GrabBreak() {
    if (!Connect()) return false;
    if (grab.Grabbed()) return true;
    if (pauseKeycode == 0) {
      std::fprintf(stderr, "vesk: the keyboard has no Pause key; Ctrl+Break is not watched\n");
      return false;
    }
    const bool ok = grab.Grab(ctrl, pauseKeycode, GrabRefusedFlag());
    *GrabRefusedFlag() = false;
    return Alive() && ok;
  }

  void UngrabBreak() {
    if (!grab.Grabbed() || ctrl == nullptr) return;
    grab.Ungrab(ctrl);
    Alive();
  }

  void ReadControlEvents() {
    if (ctrl == nullptr) return;
    std::vector<std::uint32_t> breaks;
    while (!ctrlDead && XPending(ctrl) > 0) {
      XEvent ev{};
      XNextEvent(ctrl, &ev);
      if (ev.type == KeyPress && ev.xkey.keycode == pauseKeycode &&
          (ev.xkey.state & ControlMask) != 0) {
        breaks.push_back(static_cast<std::uint32_t>(ev.xkey.time));
      }
    }
    if (!Alive() || breaks.empty()) return;
    // What was typed before the break must reach the journal first.
    if (contextEnabled && data != nullptr) {
      XSync(ctrl, False);
      pollfd p{ConnectionNumber(data), POLLIN, 0};
      poll(&p, 1, kBreakCatchUpMs);
      Pump();
    }
    for (std::uint32_t t : breaks) DeliverBreak(t);
  }

  ~State() {
    keepAlive.stop();
    delete dataNotifier;
    delete ctrlNotifier;
    if (ctrl != nullptr && !ctrlDead) {
      if (grab.Grabbed()) grab.Ungrab(ctrl);
      if (contextEnabled) {
        XRecordDisableContext(ctrl, recordContext);
        XSync(ctrl, False);
      }
    }
    if (data != nullptr && !dataDead) {
      ForgetConnection(data);
      XCloseDisplay(data);
    }
    if (ctrl != nullptr && !ctrlDead) {
      if (recordContext != 0) XRecordFreeContext(ctrl, recordContext);
      ForgetConnection(ctrl);
      XCloseDisplay(ctrl);
    }
  }
};

X11Input::X11Input() : s_(std::make_unique<State>()) {}
X11Input::~X11Input() = default;

void X11Input::SetCallbacks(Callbacks callbacks) { s_->cb = std::move(callbacks); }
bool X11Input::Connect() { return s_->Connect(); }
std::int64_t X11Input::ServerTimeOffset() const { return s_->timeOffset; }
bool X11Input::StartRecording() { return s_->StartRecording(); }
void X11Input::StopRecording() { s_->StopRecording(); }
bool X11Input::IsRecording() const { return s_->recording; }
bool X11Input::CanInject() { return s_->CanInject(); }
std::uint32_t X11Input::Send(const EVENTMSG* events, std::size_t count) {
  return s_->Send(events, count);
}
bool X11Input::GrabBreak() { return s_->GrabBreak(); }
void X11Input::UngrabBreak() { s_->UngrabBreak(); }

void X11Input::Suspend(bool suspend) {
  State& s = *s_;
  for (QSocketNotifier* n : {s.dataNotifier, s.ctrlNotifier}) {
    if (n != nullptr) n->setEnabled(!suspend);
  }
  if (suspend) {
    s.keepAlive.stop();
  } else if (s.contextEnabled) {
    s.keepAlive.start(kKeepAliveMs);
  }
}

bool X11Input::IsConnected() const { return s_->ctrl != nullptr && !s_->ctrlDead; }

unsigned long X11Input::ControlConnectionResource() const {
  return s_->ctrl != nullptr ? s_->ctrlResource : 0;
}

unsigned long X11Input::CaptureConnectionResource() const {
  return s_->data != nullptr ? s_->dataResource : 0;
}

void X11Input::FlushToolkit() {
  auto* x11 =
      qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 != nullptr && x11->display() != nullptr) XFlush(x11->display());
}

}  // namespace vesk::x11
