#include "platform/x11/qt_backend.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "platform/x11/log_model.h"
#include "platform/x11/named_mutex.h"
#include "platform/x11/x11_input.h"

namespace vesk::x11 {
namespace {

constexpr ModuleHandle kUser32 = 0x7700;
constexpr std::uint32_t kLlkhfExtended = 0x01;
constexpr std::uint32_t kBreakScan = 0x46;
constexpr WParam kPmRemove = 1;
// Playback serves at most this many events in a row before it lets the
// event loop run (a journal of zero waits must not freeze the window).
constexpr int kPlaybackBatch = 64;
// A wait longer than a QTimer can hold is served in pieces of this size.
constexpr std::int64_t kLongestTimerMs = 1 << 30;
// How long a repaint waits for a window just shown to appear on screen.
constexpr std::int64_t kExposureWaitMs = 1000;

QtBackend* g_backend = nullptr;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

const QIcon& AppIcon() {
  static const QIcon icon(QStringLiteral(":/vesk/vesk.ico"));
  return icon;
}

// Pixels per dialog unit, from the average character width and the
// height of the template's font, as dialog units are defined.
struct DialogUnits {
  explicit DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int avg = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = std::max(1, (avg / 26 + 1) / 2);
    baseY = std::max(1, fm.height());
  }
  int X(int du) const { return du * baseX / 4; }
  int Y(int du) const { return du * baseY / 8; }
  int baseX;
  int baseY;
};

class TemplateWindow;

// Two arrow buttons that step a number kept here and write it into the
// buddy edit.
class UpDownWidget : public QWidget {
 public:
  UpDownWidget(QWidget* parent, std::function<void(int)> step) : QWidget(parent) {
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
      b->setAutoRepeat(true);
      b->setFocusPolicy(Qt::NoFocus);
    }
    connect(up_, &QToolButton::clicked, this, [step] { step(+1); });
    connect(down_, &QToolButton::clicked, this, [step] { step(-1); });
  }
  int low = 0;
  int high = 100;
  int pos = 0;
  int buddy = 0;

 protected:
  void resizeEvent(QResizeEvent*) override {
    const int h = height() / 2;
    up_->setGeometry(0, 0, width(), h);
    down_->setGeometry(0, h, width(), height() - h);
  }

 private:
  QToolButton* up_;
  QToolButton* down_;
};

struct ControlRec {
  int id;
  ControlKind kind;
  std::uint32_t style;
  QWidget* widget;
  LogModel* log = nullptr;
};

class TemplateWindow : public QWidget {
 public:
  TemplateWindow(WindowId id, const DialogTemplate& tmpl, WindowSink* sink)
      : id_(id), tmpl_(&tmpl), sink_(sink) {}

  WindowId id_;
  const DialogTemplate* tmpl_;
  WindowSink* sink_;
  WindowId parent_ = 0;
  std::uint32_t exStyle_ = 0;
  std::vector<ControlRec> controls_;
  QEventLoop* loop_ = nullptr;
  bool ended_ = false;
  int result_ = 0;

  ControlRec* Find(int id) {
    for (auto& c : controls_) {
      if (c.id == id && id != -1) return &c;
    }
    return nullptr;
  }

  void Notify(int controlId, std::uint32_t code) {
    if (sink_ != nullptr) sink_->HandleMessage(WM_COMMAND, MakeCommandWParam(controlId, code), 0);
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
      Notify(IDCANCEL, BN_CLICKED);
      return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
      // A focused push button is the one Enter presses; else the default.
      int id = DefaultButtonOf(*tmpl_);
      for (auto& c : controls_) {
        if (c.kind == ControlKind::PushButton && c.widget->hasFocus()) id = c.id;
      }
      if (ControlRec* c = Find(id); c != nullptr && c->widget->isEnabled()) {
        Notify(id, BN_CLICKED);
      }
      return;
    }
    QWidget::keyPressEvent(e);
  }

  void closeEvent(QCloseEvent* e) override {
    // The window's owner decides: the close box only asks.
    e->ignore();
    if (sink_ != nullptr) sink_->HandleMessage(WM_CLOSE, 0, 0);
  }
};

}  // namespace

struct QtBackend::Impl {
  QtBackend* self;
  X11Input input;
  NamedMutexTable mutexes;

  std::map<WindowId, QPointer<TemplateWindow>> windows;
  WindowId nextWindow = 0x1000;

  struct Posted {
    WindowId window;
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
  };
  std::deque<Posted> posted;
  QObject dispatcher;
  std::map<std::string, std::uint32_t> registered;

  struct Hook {
    HookHandle handle;
    int kind;
    HookProc proc;
    bool alive;
  };
  std::vector<Hook> hooks;
  HookHandle nextHook = 0x5000;

  // While UpdateWindow waits for a new window to be exposed, the event loop
  // runs for painting only: posted messages and hook calls wait.
  int suspended = 0;
  int deferredDispatches = 0;
  bool playbackDeferred = false;

  QTimer playTimer;
  std::int64_t playDue = 0;  // steady ms the current wait ends
  bool playWaiting = false;
  bool driving = false;

  explicit Impl(QtBackend* owner) : self(owner) {
    playTimer.setSingleShot(true);
    playTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&playTimer, &QTimer::timeout, &dispatcher, [this] { DrivePlayback(); });
    X11Input::Callbacks cb;
    cb.recorded = [this](const EVENTMSG& e) { OnRecorded(e); };
    cb.breakPressed = [this](std::uint32_t t) { OnBreak(t); };
    cb.lost = [this](const std::string& why) { OnLost(why); };
    input.SetCallbacks(std::move(cb));
    input.Connect();
  }

  TemplateWindow* Win(WindowId id) {
    auto it = windows.find(id);
    return it == windows.end() ? nullptr : it->second.data();
  }
  ControlRec* Ctl(WindowId window, int id) {
    TemplateWindow* w = Win(window);
    return w != nullptr ? w->Find(id) : nullptr;
  }

  Hook* FirstHook(int kind) {
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
      if (it->alive && it->kind == kind) return &*it;
    }
    return nullptr;
  }

  // ------------------------------------------------------------ windows

  void BuildControls(TemplateWindow* w, const DialogUnits& du) {
    int previous = 0;
    std::vector<QWidget*> groupBoxes;
    for (const ControlTemplate& ct : w->tmpl_->controls) {
      QWidget* widget = nullptr;
      LogModel* log = nullptr;
      const int id = ct.id;
      const QString text = QString::fromUtf8(ct.text);
      switch (ct.kind) {
        case ControlKind::PushButton: {
          auto* b = new QPushButton(text, w);
          b->setDefault((ct.style & style::BS_DEFPUSHBUTTON) != 0);
          QObject::connect(b, &QPushButton::clicked, w, [w, id] { w->Notify(id, BN_CLICKED); });
          widget = b;
          break;
        }
        case ControlKind::ListBox: {
          auto* v = new QListView(w);
          v->setUniformItemSizes(true);
          v->setEditTriggers(QAbstractItemView::NoEditTriggers);
          v->setSelectionMode(QAbstractItemView::SingleSelection);
          v->setVerticalScrollBarPolicy(
              (ct.style & style::WS_VSCROLL) != 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
          log = new LogModel(v);
          v->setModel(log);
          widget = v;
          break;
        }
        case ControlKind::CheckBox: {
          auto* c = new QCheckBox(text, w);
          QObject::connect(c, &QCheckBox::clicked, w, [w, id] { w->Notify(id, BN_CLICKED); });
          widget = c;
          break;
        }
        case ControlKind::RadioButton: {
          auto* r = new QRadioButton(text, w);
          r->setAutoExclusive(false);
          QObject::connect(r, &QRadioButton::clicked, w, [this, w, id] { ClickRadio(w, id); });
          widget = r;
          break;
        }
        case ControlKind::Edit: {
          auto* e = new QLineEdit(text, w);
          e->setReadOnly((ct.style & style::ES_READONLY) != 0);
          if ((ct.style & style::ES_RIGHT) != 0) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
          if ((ct.style & style::ES_NUMBER) != 0) {
            e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
          }
          QObject::connect(e, &QLineEdit::textEdited, w, [w, id] { w->Notify(id, EN_CHANGE); });
          widget = e;
          break;
        }
        case ControlKind::UpDown: {
          const WindowId wid = w->id_;
          auto* u = new UpDownWidget(w, [this, wid, id](int delta) { Spin(wid, id, delta); });
          if ((ct.style & style::UDS_AUTOBUDDY) != 0) u->buddy = previous;
          widget = u;
          break;
        }
        case ControlKind::StaticText:
          widget = new QLabel(text, w);
          break;
        case ControlKind::GroupBox:
          widget = new QGroupBox(text, w);
          // The frame line runs through the middle of the title, as the
          // template's rectangles assume.
          widget->setStyleSheet(QStringLiteral(
              "QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
              " margin-top: 0.5em; }"
              "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
          groupBoxes.push_back(widget);
          break;
      }
      widget->setGeometry(du.X(ct.x), du.Y(ct.y), du.X(ct.cx), du.Y(ct.cy));
      widget->setEnabled((ct.style & style::WS_DISABLED) == 0);
      widget->setVisible((ct.style & style::WS_VISIBLE) != 0);
      w->controls_.push_back({id, ct.kind, ct.style, widget, log});
      previous = id;
    }
    // Group boxes are frames behind the controls they surround.
    for (QWidget* g : groupBoxes) g->lower();
    for (auto& c : w->controls_) {
      if (c.kind != ControlKind::UpDown) continue;
      auto* u = static_cast<UpDownWidget*>(c.widget);
      ControlRec* buddy = w->Find(u->buddy);
      if (buddy == nullptr) continue;
      if ((c.style & style::UDS_ALIGNRIGHT) != 0) {
        // Sits at the buddy's right edge; the buddy gives up that width.
        QRect r = buddy->widget->geometry();
        const int width = u->width();
        r.setWidth(r.width() - width);
        buddy->widget->setGeometry(r);
        u->setGeometry(r.right() + 1, r.top(), width, r.height());
      }
      if ((c.style & style::UDS_ARROWKEYS) != 0) InstallArrowKeys(w, buddy->widget, c.id);
    }
  }

  void InstallArrowKeys(TemplateWindow* w, QWidget* buddy, int spinId) {
    struct Filter : QObject {
      std::function<void(int)> step;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Up) step(+1);
        if (key == Qt::Key_Down) step(-1);
        return key == Qt::Key_Up || key == Qt::Key_Down;
      }
    };
    auto* f = new Filter;
    f->setParent(buddy);
    const WindowId wid = w->id_;
    f->step = [this, wid, spinId](int delta) { Spin(wid, spinId, delta); };
    buddy->installEventFilter(f);
  }

  void ClickRadio(TemplateWindow* w, int id) {
    // Automatic radio buttons: the run of radio buttons around it is one group.
    auto& cs = w->controls_;
    auto it = std::find_if(cs.begin(), cs.end(), [id](const ControlRec& c) { return c.id == id; });
    if (it == cs.end()) return;
    auto first = it;
    while (first != cs.begin() && (first - 1)->kind == ControlKind::RadioButton) --first;
    for (auto r = first; r != cs.end() && r->kind == ControlKind::RadioButton; ++r) {
      static_cast<QRadioButton*>(r->widget)->setChecked(r->id == id);
    }
    w->Notify(id, BN_CLICKED);
  }

  void Spin(WindowId window, int id, int delta) {
    ControlRec* c = Ctl(window, id);
    if (c == nullptr || !c->widget->isEnabled()) return;
    auto* u = static_cast<UpDownWidget*>(c->widget);
    long long next = static_cast<long long>(u->pos) + delta;
    const bool wrap = (c->style & style::UDS_WRAP) != 0;
    if (next > u->high) next = wrap ? u->low : u->high;
    if (next < u->low) next = wrap ? u->high : u->low;
    self->UpDownSetPos(window, id, static_cast<int>(next));
  }

  // Lets a window that was just shown be exposed and painted, without
  // running anything else of the program.
  void AwaitExposure(TemplateWindow* w) {
    QWindow* handle = w->windowHandle();
    if (handle == nullptr || handle->isExposed()) return;
    ++suspended;
    input.Suspend(true);
    const std::int64_t until = SteadyMs() + kExposureWaitMs;
    while (!handle->isExposed() && SteadyMs() < until) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    input.Suspend(false);
    if (--suspended > 0) return;
    for (; deferredDispatches > 0; --deferredDispatches) {
      QMetaObject::invokeMethod(
          &dispatcher, [this] { DispatchOne(); }, Qt::QueuedConnection);
    }
    if (std::exchange(playbackDeferred, false)) playTimer.start(0);
  }

  void FlushLogs(TemplateWindow* w) {
    for (auto& c : w->controls_) {
      if (c.log != nullptr) c.log->Flush();
    }
  }

  // ------------------------------------------------------------ messages

  void DispatchOne() {
    if (suspended > 0) {
      ++deferredDispatches;
      return;
    }
    if (posted.empty()) return;
    const Posted p = posted.front();
    posted.pop_front();
    MSG msg{p.window, p.message, p.wParam, p.lParam, self->GetTickCount(), 0, 0};
    if (Hook* h = FirstHook(WH_GETMESSAGE)) {
      h->proc(HC_ACTION, kPmRemove, reinterpret_cast<LParam>(&msg));
    }
    if (msg.hwnd == 0) return;
    if (TemplateWindow* w = Win(msg.hwnd); w != nullptr && w->sink_ != nullptr) {
      w->sink_->HandleMessage(msg.message, msg.wParam, msg.lParam);
    }
  }

  // ------------------------------------------------------------ hooks

  void OnRecorded(const EVENTMSG& e) {
    if (Hook* h = FirstHook(WH_JOURNALRECORD)) {
      EVENTMSG copy = e;
      h->proc(HC_ACTION, 0, reinterpret_cast<LParam>(&copy));
    }
  }

  void OnBreak(std::uint32_t time) {
    if (Hook* h = FirstHook(WH_KEYBOARD_LL)) {
      KBDLLHOOKSTRUCT k{VK_CANCEL, kBreakScan, kLlkhfExtended, time, 0};
      h->proc(HC_ACTION, WM_KEYDOWN, reinterpret_cast<LParam>(&k));
    }
  }

  void OnLost(const std::string& why) {
    bool removed = false;
    for (auto& h : hooks) {
      if (h.alive && (h.kind == WH_JOURNALRECORD || h.kind == WH_JOURNALPLAYBACK)) {
        h.alive = false;
        removed = true;
      }
    }
    playTimer.stop();
    playWaiting = false;
    if (removed) {
      std::fprintf(stderr, "vesk: journal hooks cancelled: %s\n", why.c_str());
      self->PostMessage(0, WM_CANCELJOURNAL, 0, 0);
    }
    // The grab went with a lost control connection: take it again.
    if (FirstHook(WH_KEYBOARD_LL) != nullptr) input.GrabBreak();
  }

  void StartPlayback() {
    playDue = SteadyMs();
    playWaiting = false;
    playTimer.start(0);
  }

  void Arm() {
    const std::int64_t left = playDue - SteadyMs();
    playTimer.start(static_cast<int>(std::clamp<std::int64_t>(left, 0, kLongestTimerMs)));
  }

  // The journal-playback protocol: HC_GETNEXT; a wait above 0 is served
  // on an absolute schedule and the same event is asked for again; 0 means
  // replay it now, then HC_SKIP.
  void DrivePlayback() {
    if (suspended > 0) {
      playbackDeferred = true;
      return;
    }
    if (driving) return;
    driving = true;
    for (int served = 0; served < kPlaybackBatch; ++served) {
      Hook* h = FirstHook(WH_JOURNALPLAYBACK);
      if (h == nullptr) break;
      if (playWaiting && SteadyMs() < playDue) {
        Arm();
        driving = false;
        return;
      }
      playWaiting = false;
      EVENTMSG e{};
      const LResult wait = h->proc(HC_GETNEXT, 0, reinterpret_cast<LParam>(&e));
      if (FirstHook(WH_JOURNALPLAYBACK) == nullptr) break;  // removed from inside
      if (wait > 0) {
        playWaiting = true;
        playDue += static_cast<std::int64_t>(wait);
        Arm();
        driving = false;
        return;
      }
      if (!input.Inject(e) && !input.IsConnected()) break;  // lost: the hook goes too
      if (Hook* again = FirstHook(WH_JOURNALPLAYBACK)) again->proc(HC_SKIP, 0, 0);
    }
    if (FirstHook(WH_JOURNALPLAYBACK) != nullptr) playTimer.start(0);
    driving = false;
  }

  void KindRemoved(int kind) {
    if (FirstHook(kind) != nullptr) return;
    if (kind == WH_JOURNALRECORD) input.StopRecording();
    if (kind == WH_JOURNALPLAYBACK) {
      playTimer.stop();
      playWaiting = false;
    }
    if (kind == WH_KEYBOARD_LL) input.UngrabBreak();
  }
};

namespace {
int SetLayeredWindowAttributesImpl(WindowId window, std::uint32_t, std::uint8_t alpha,
                                   std::uint32_t flags) {
  if (g_backend == nullptr) return 0;
  QWidget* w = g_backend->WindowWidget(window);
  if (w == nullptr || (g_backend->GetWindowLong(window, GWL_EXSTYLE) & WS_EX_LAYERED) == 0) {
    return 0;
  }
  if ((flags & LWA_ALPHA) != 0) w->setWindowOpacity(alpha / 255.0);
  return 1;
}
}  // namespace

QtBackend::QtBackend() : d_(std::make_unique<Impl>(this)) {
  g_backend = this;
  QApplication::setWindowIcon(AppIcon());
}

QtBackend::~QtBackend() {
  for (auto& [id, w] : d_->windows) {
    if (w != nullptr) {
      w->sink_ = nullptr;
      delete w.data();
    }
  }
  if (g_backend == this) g_backend = nullptr;
}

QWidget* QtBackend::WindowWidget(WindowId window) { return d_->Win(window); }

QWidget* QtBackend::ControlWidget(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  return c != nullptr ? c->widget : nullptr;
}

X11Input& QtBackend::Input() { return d_->input; }

// ---------------------------------------------------------------- windows

WindowId QtBackend::CreateDialogWindow(const DialogTemplate& tmpl, WindowId parent,
                                       WindowSink* sink) {
  const WindowId id = d_->nextWindow++;
  auto* w = new TemplateWindow(id, tmpl, sink);
  w->parent_ = parent;
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if ((tmpl.style & style::WS_SYSMENU) != 0) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  if ((tmpl.style & style::DS_SYSMODAL) != 0) {
    flags |= Qt::WindowStaysOnTopHint;
    w->exStyle_ |= WS_EX_TOPMOST;
  }
  w->setWindowFlags(flags);
  QFont font = QApplication::font();
  font.setPointSize(tmpl.fontPoints);
  w->setFont(font);
  const DialogUnits du(font);
  w->setWindowTitle(QString::fromUtf8(tmpl.caption));
  w->setFixedSize(du.X(tmpl.cx), du.Y(tmpl.cy));
  w->move(du.X(tmpl.x), du.Y(tmpl.y));
  w->setEnabled((tmpl.style & style::WS_DISABLED) == 0);
  d_->BuildControls(w, du);
  w->winId();  // the native window exists from now on: styles apply to it at once
  d_->windows[id] = w;
  return id;
}

void QtBackend::DestroyWindow(WindowId window) {
  TemplateWindow* w = d_->Win(window);
  d_->windows.erase(window);
  std::erase_if(d_->posted, [window](const Impl::Posted& p) { return p.window == window; });
  if (w == nullptr) return;
  w->sink_ = nullptr;
  if (w->loop_ != nullptr) w->loop_->quit();
  w->hide();
  w->deleteLater();  // it may be on the stack of the call that destroys it
}

int QtBackend::RunModalLoop(WindowId window) {
  TemplateWindow* w = d_->Win(window);
  if (w == nullptr) return -1;
  if (!w->ended_) {
    if ((w->tmpl_->style & style::WS_VISIBLE) != 0) {
      // Centred over a visible owner, else on the screen, as the dialog
      // framework places a dialog its initialisation did not move.
      TemplateWindow* p = d_->Win(w->parent_);
      const bool owned = p != nullptr && p->isVisible();
      if (owned) w->setWindowModality(Qt::ApplicationModal);
      const QRect area = owned ? p->geometry() : w->screen()->availableGeometry();
      QRect frame = w->geometry();
      frame.moveCenter(area.center());
      w->move(frame.topLeft());
      w->show();
      w->raise();
      w->activateWindow();
    }
    QEventLoop loop;
    w->loop_ = &loop;
    loop.exec();
    w = d_->Win(window);
    if (w == nullptr) return -1;
    w->loop_ = nullptr;
  }
  w->ended_ = false;
  w->hide();
  return w->result_;
}

void QtBackend::EndModalLoop(WindowId window, int result) {
  TemplateWindow* w = d_->Win(window);
  if (w == nullptr) return;
  w->ended_ = true;
  w->result_ = result;
  if (w->loop_ != nullptr) w->loop_->quit();
}

void QtBackend::SetWindowText(WindowId window, const std::string& text) {
  if (TemplateWindow* w = d_->Win(window)) w->setWindowTitle(Q(text));
}

std::string QtBackend::GetWindowText(WindowId window) {
  TemplateWindow* w = d_->Win(window);
  return w != nullptr ? S(w->windowTitle()) : std::string{};
}

std::uint32_t QtBackend::GetWindowLong(WindowId window, int index) {
  TemplateWindow* w = d_->Win(window);
  return w != nullptr && index == GWL_EXSTYLE ? w->exStyle_ : 0;
}

std::uint32_t QtBackend::SetWindowLong(WindowId window, int index, std::uint32_t value) {
  TemplateWindow* w = d_->Win(window);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  const std::uint32_t old = std::exchange(w->exStyle_, value);
  if (((old ^ value) & WS_EX_TRANSPARENT) != 0 && w->windowHandle() != nullptr) {
    // On the native window itself: the widget's flags would re-create it.
    w->windowHandle()->setFlag(Qt::WindowTransparentForInput, (value & WS_EX_TRANSPARENT) != 0);
  }
  return old;
}

void QtBackend::UpdateWindow(WindowId window) {
  TemplateWindow* w = d_->Win(window);
  if (w == nullptr) return;
  d_->FlushLogs(w);
  if (w->isVisible()) {
    d_->AwaitExposure(w);
    w->repaint();
  }
  X11Input::FlushToolkit();
}

void QtBackend::SetIcon(WindowId window, int iconResource, bool) {
  TemplateWindow* w = d_->Win(window);
  if (w != nullptr && iconResource == kAppIcon) w->setWindowIcon(AppIcon());
}

bool QtBackend::IsIconic(WindowId window) {
  TemplateWindow* w = d_->Win(window);
  return w != nullptr && w->isMinimized();
}

// A minimised window is the window manager's to draw on X11.
void QtBackend::PaintIconic(WindowId, int, int, int) {}

void QtBackend::GetClientSize(WindowId window, int* width, int* height) {
  TemplateWindow* w = d_->Win(window);
  *width = w != nullptr ? w->width() : 0;
  *height = w != nullptr ? w->height() : 0;
}

int QtBackend::GetSystemMetrics(int index) {
  return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

// ---------------------------------------------------------------- controls

bool QtBackend::HasControl(WindowId window, int id) { return d_->Ctl(window, id) != nullptr; }

void QtBackend::EnableControl(WindowId window, int id, bool enable) {
  if (ControlRec* c = d_->Ctl(window, id)) c->widget->setEnabled(enable);
}

bool QtBackend::IsControlEnabled(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  return c != nullptr && c->widget->isEnabled();
}

void QtBackend::SetControlText(WindowId window, int id, const std::string& text) {
  ControlRec* c = d_->Ctl(window, id);
  if (c == nullptr) return;
  switch (c->kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      static_cast<QAbstractButton*>(c->widget)->setText(Q(text));
      break;
    case ControlKind::StaticText:
      static_cast<QLabel*>(c->widget)->setText(Q(text));
      break;
    case ControlKind::GroupBox:
      static_cast<QGroupBox*>(c->widget)->setTitle(Q(text));
      break;
    case ControlKind::Edit: {
      auto* e = static_cast<QLineEdit*>(c->widget);
      e->setText(Q(text));
      // As on Windows, setting an edit's text notifies, at once.
      d_->Win(window)->Notify(id, EN_CHANGE);
      break;
    }
    case ControlKind::ListBox:
    case ControlKind::UpDown:
      break;
  }
}

std::string QtBackend::GetControlText(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  if (c == nullptr) return {};
  switch (c->kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      return S(static_cast<QAbstractButton*>(c->widget)->text());
    case ControlKind::StaticText:
      return S(static_cast<QLabel*>(c->widget)->text());
    case ControlKind::GroupBox:
      return S(static_cast<QGroupBox*>(c->widget)->title());
    case ControlKind::Edit:
      return S(static_cast<QLineEdit*>(c->widget)->text());
    case ControlKind::ListBox:
    case ControlKind::UpDown:
      return {};
  }
  return {};
}

void QtBackend::SetCheck(WindowId window, int id, bool checked) {
  ControlRec* c = d_->Ctl(window, id);
  if (c == nullptr) return;
  if (auto* b = qobject_cast<QAbstractButton*>(c->widget); b != nullptr && b->isCheckable()) {
    b->setChecked(checked);
  }
}

bool QtBackend::GetCheck(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  auto* b = c != nullptr ? qobject_cast<QAbstractButton*>(c->widget) : nullptr;
  return b != nullptr && b->isCheckable() && b->isChecked();
}

int QtBackend::ListAddString(WindowId window, int id, const std::string& text) {
  ControlRec* c = d_->Ctl(window, id);
  return c != nullptr && c->log != nullptr ? c->log->Add(text) : -1;
}

void QtBackend::ListDeleteFirst(WindowId window, int id, int count) {
  ControlRec* c = d_->Ctl(window, id);
  if (c != nullptr && c->log != nullptr) c->log->DeleteFirst(count);
}

int QtBackend::ListGetCount(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  return c != nullptr && c->log != nullptr ? c->log->Count() : 0;
}

void QtBackend::ListSetCurSel(WindowId window, int id, int index) {
  ControlRec* c = d_->Ctl(window, id);
  if (c != nullptr && c->log != nullptr) c->log->SetCurSel(index);
}

int QtBackend::ListGetCurSel(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  return c != nullptr && c->log != nullptr ? c->log->CurSel() : -1;
}

std::string QtBackend::ListGetText(WindowId window, int id, int index) {
  ControlRec* c = d_->Ctl(window, id);
  if (c == nullptr || c->log == nullptr || index < 0 || index >= c->log->Count()) return {};
  return c->log->Line(index);
}

void QtBackend::UpDownSetRange(WindowId window, int id, int low, int high) {
  ControlRec* c = d_->Ctl(window, id);
  if (c == nullptr || c->kind != ControlKind::UpDown) return;
  auto* u = static_cast<UpDownWidget*>(c->widget);
  u->low = low;
  u->high = high;
}

void QtBackend::UpDownSetPos(WindowId window, int id, int pos) {
  ControlRec* c = d_->Ctl(window, id);
  if (c == nullptr || c->kind != ControlKind::UpDown) return;
  auto* u = static_cast<UpDownWidget*>(c->widget);
  u->pos = std::clamp(pos, std::min(u->low, u->high), std::max(u->low, u->high));
  if (u->buddy != 0 && (c->style & style::UDS_SETBUDDYINT) != 0) {
    SetControlText(window, u->buddy, std::to_string(u->pos));
  }
}

int QtBackend::UpDownGetPos(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  if (c == nullptr || c->kind != ControlKind::UpDown) return 0;
  return static_cast<UpDownWidget*>(c->widget)->pos;
}

// ---------------------------------------------------------------- messages

std::uint32_t QtBackend::RegisterWindowMessage(const std::string& name) {
  auto& reg = d_->registered;
  return reg.try_emplace(name, WM_REGISTERED_FIRST + static_cast<std::uint32_t>(reg.size()))
      .first->second;
}

bool QtBackend::PostMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) {
  if (window != 0 && d_->Win(window) == nullptr) return false;
  d_->posted.push_back({window, message, wParam, lParam});
  Impl* d = d_.get();
  QMetaObject::invokeMethod(
      &d_->dispatcher, [d] { d->DispatchOne(); }, Qt::QueuedConnection);
  return true;
}

std::optional<std::string> QtBackend::ShowFileDialog(WindowId owner,
                                                     const FileDialogRequest& request) {
  QFileDialog dialog(d_->Win(owner), Q(request.title));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  const bool mustExist = !request.save && (request.flags & OFN_FILEMUSTEXIST) != 0;
  dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite,
                   !request.save || (request.flags & OFN_OVERWRITEPROMPT) == 0);
  if (!request.filterPattern.empty()) {
    dialog.setNameFilter(Q(request.filterDescription + " (" + request.filterPattern + ")"));
  }
  if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(Q(request.defaultExtension));
  if (!request.initialName.empty()) dialog.selectFile(Q(request.initialName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::string{};
  return S(QFileInfo(files.first()).absoluteFilePath());
}

int QtBackend::MessageBox(WindowId owner, const std::string& text, const std::string& caption,
                          std::uint32_t) {
  const auto answer = QMessageBox::question(d_->Win(owner), Q(caption), Q(text),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  return answer == QMessageBox::Yes ? IDYES : IDNO;
}

// ---------------------------------------------------------------- libraries

ModuleHandle QtBackend::LoadLibrary(const std::string& name) {
  return Q(name).compare(QStringLiteral("user32.dll"), Qt::CaseInsensitive) == 0 ? kUser32 : 0;
}

ProcAddress QtBackend::GetProcAddress(ModuleHandle module, const std::string& name) {
  if (module != kUser32 || name != "SetLayeredWindowAttributes") return nullptr;
  return reinterpret_cast<ProcAddress>(&SetLayeredWindowAttributesImpl);
}

void QtBackend::FreeLibrary(ModuleHandle) {}

// ---------------------------------------------------------------- hooks

HookHandle QtBackend::SetWindowsHookEx(int kind, HookProc proc) {
  if (proc == nullptr) return 0;
  switch (kind) {
    case WH_JOURNALRECORD:
      if (!d_->input.StartRecording()) return 0;
      break;
    case WH_JOURNALPLAYBACK:
      if (!d_->input.CanInject()) return 0;
      break;
    case WH_KEYBOARD_LL:
      d_->input.GrabBreak();  // without it the hook stays, only never called
      break;
    case WH_GETMESSAGE:
      break;
    default:
      return 0;
  }
  const HookHandle handle = d_->nextHook++;
  d_->hooks.push_back({handle, kind, proc, true});
  if (kind == WH_JOURNALPLAYBACK) d_->StartPlayback();
  return handle;
}

bool QtBackend::UnhookWindowsHookEx(HookHandle hook) {
  for (auto& h : d_->hooks) {
    if (h.handle == hook && h.alive) {
      h.alive = false;
      d_->KindRemoved(h.kind);
      return true;
    }
  }
  return false;
}

LResult QtBackend::CallNextHookEx(HookHandle hook, int code, WParam wParam, LParam lParam) {
  auto& hooks = d_->hooks;
  auto it = std::find_if(hooks.rbegin(), hooks.rend(),
                         [hook](const Impl::Hook& h) { return h.handle == hook; });
  if (it == hooks.rend()) return 0;
  const int kind = it->kind;
  for (++it; it != hooks.rend(); ++it) {
    if (it->alive && it->kind == kind) return it->proc(code, wParam, lParam);
  }
  return 0;
}

// ---------------------------------------------------------------- time

std::uint32_t QtBackend::GetTickCount() {
  // On the X server's clock, so that "now" and captured time stamps compare.
  return static_cast<std::uint32_t>(SteadyMs() + d_->input.ServerTimeOffset());
}

void QtBackend::Sleep(std::uint32_t milliseconds) {
  X11Input::FlushToolkit();
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void QtBackend::ProgramEnded() {
  // Nothing more will be shown or played; the key goes back to the desktop.
  d_->playTimer.stop();
  d_->input.UngrabBreak();
  X11Input::FlushToolkit();
}

// ---------------------------------------------------------------- named mutex

MutexHandle QtBackend::CreateMutex(const std::string& name) { return d_->mutexes.Create(name); }

std::uint32_t QtBackend::WaitForSingleObject(MutexHandle mutex, std::uint32_t milliseconds) {
  return d_->mutexes.Wait(mutex, milliseconds);
}

bool QtBackend::ReleaseMutex(MutexHandle mutex) { return d_->mutexes.Release(mutex); }

void QtBackend::CloseHandle(MutexHandle mutex) { d_->mutexes.Close(mutex); }

}  // namespace vesk::x11
