// The Qt backend's windows, message loop, time and named locks.
#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QListView>
#include <QScreen>
#include <QWindow>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "platform/qt/qt_backend_impl.h"
#include "platform/x11/frame_shape.h"

namespace vesk::qt {
namespace {

constexpr WParam kPmRemove = 1;
// How long a repaint waits for a window just shown to appear on screen.
constexpr std::int64_t kExposureWaitMs = 1000;

}  // namespace

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const QIcon& AppIcon() {
  static const QIcon icon(QStringLiteral(":/vesk/vesk.ico"));
  return icon;
}

QtBackend::Impl::Impl(QtBackend* owner, LinuxInput chosenInput)
    : self(owner), chosen(std::move(chosenInput)), input(*chosen.path), injector(&input.Replay()) {
  InputPath::Callbacks cb;
  cb.recorded = [this](const EVENTMSG& e) { OnRecorded(e); };
  cb.breakPressed = [this](std::uint32_t t) { OnBreak(t); };
  cb.lost = [this](const std::string& line) { OnLost(line); };
  cb.asking = [this](bool asking) { OnAsking(asking); };
  input.SetCallbacks(std::move(cb));
  hooks.OnLastRemoved([this](int kind) { KindRemoved(kind); });
  PlaybackTimer::Calls host;
  host.current = [this] { return hooks.FirstHandle(WH_JOURNALPLAYBACK); };
  host.call = [this](int code, EVENTMSG* e) -> LResult {
    return hooks.CallFirst(WH_JOURNALPLAYBACK, code, 0, reinterpret_cast<LParam>(e));
  };
  host.mayRun = [this] { return suspended == 0; };
  host.logWork = [this] { FlushAllLogs(); };
  playback.SetCalls(std::move(host), injector);
  screenLock.changed = [this](bool locked) { OnScreenLocked(locked); };
}

TemplateWindow* QtBackend::Impl::Win(WindowId id) {
  auto it = windows.find(id);
  return it == windows.end() ? nullptr : it->second.data();
}

ControlRec* QtBackend::Impl::Ctl(WindowId window, int id) {
  TemplateWindow* w = Win(window);
  return w != nullptr ? w->Find(id) : nullptr;
}

QtBackend::Impl::Hook* QtBackend::Impl::FirstHook(int kind) { return hooks.First(kind); }

// ---------------------------------------------------------------- message loop

void QtBackend::Impl::AwaitExposure(TemplateWindow* w) {
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
  playback.Resume();
}

void QtBackend::Impl::FlushLogs(TemplateWindow* w) {
  for (auto& c : w->controls_) {
    if (c.log != nullptr) c.log->Flush();
  }
}

// ------------------------------------------------------------ messages

void QtBackend::Impl::DispatchOne() {
  if (suspended > 0) {
    ++deferredDispatches;
    return;
  }
  const auto p = posted.Take();
  if (!p) return;
  MSG msg{p->window, p->message, p->wParam, p->lParam, self->GetTickCount(), 0, 0};
  if (Hook* h = FirstHook(WH_GETMESSAGE)) {
    h->proc(HC_ACTION, kPmRemove, reinterpret_cast<LParam>(&msg));
  }
  if (msg.hwnd == 0) return;
  if (TemplateWindow* w = Win(msg.hwnd); w != nullptr && w->sink_ != nullptr) {
    w->sink_->HandleMessage(msg.message, msg.wParam, msg.lParam);
  }
}

// Everything the log lists have waiting, laid out and painted now.
void QtBackend::Impl::FlushAllLogs() {
  bool any = false;
  for (auto& [id, w] : windows) {
    if (w == nullptr) continue;
    for (auto& c : w->controls_) {
      if (c.log == nullptr || !c.log->Flush() || !w->isVisible()) continue;
      static_cast<QListView*>(c.widget)->doItemsLayout();
      any = true;
    }
  }
  if (!any) return;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
  X11Input::FlushToolkit();
}

QtBackend::QtBackend() : QtBackend(ChooseLinuxInput()) {}

QtBackend::QtBackend(LinuxInput input) : d_(std::make_unique<Impl>(this, std::move(input))) {
  SetCurrentBackend(this);
  QApplication::setWindowIcon(AppIcon());
}

QtBackend::~QtBackend() {
  if (d_->playback.Active()) {
    // Gone with a playback hook still in: the logs of whatever comes next
    // are not held for it.
    d_->playback.Stop();
    LogModel::HoldFlushes(false);
  }
  for (auto& [id, w] : d_->windows) {
    if (w != nullptr) {
      w->sink_ = nullptr;
      delete w.data();
    }
  }
  if (CurrentBackend() == this) SetCurrentBackend(nullptr);
}

QWidget* QtBackend::WindowWidget(WindowId window) { return d_->Win(window); }

QWidget* QtBackend::ControlWidget(WindowId window, int id) {
  ControlRec* c = d_->Ctl(window, id);
  return c != nullptr ? c->widget : nullptr;
}

X11Input& QtBackend::Input() { return *d_->chosen.server; }

void QtBackend::UseInjector(Injector* injector) { d_->UseInjector(injector); }

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
  d_->posted.Forget(window);
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
  if (TemplateWindow* w = d_->Win(window)) w->setWindowTitle(ToQt(text));
}

std::string QtBackend::GetWindowText(WindowId window) {
  TemplateWindow* w = d_->Win(window);
  return w != nullptr ? FromQt(w->windowTitle()) : std::string{};
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
    const bool through = (value & WS_EX_TRANSPARENT) != 0;
    // The frame first: a compositor reads a framed window's input region
    // from the frame when the window's own shape changes.
    x11::SetFrameClickThrough(w->windowHandle()->winId(), through);
    w->windowHandle()->setFlag(Qt::WindowTransparentForInput, through);
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
// ---------------------------------------------------------------- messages

std::uint32_t QtBackend::RegisterWindowMessage(const std::string& name) {
  return d_->posted.Register(name);
}

bool QtBackend::PostMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) {
  if (window != 0 && d_->Win(window) == nullptr) return false;
  d_->posted.Post(window, message, wParam, lParam);
  Impl* d = d_.get();
  QMetaObject::invokeMethod(
      &d_->dispatcher, [d] { d->DispatchOne(); }, Qt::QueuedConnection);
  return true;
}

// ---------------------------------------------------------------- time

std::uint32_t QtBackend::GetTickCount() {
  // On the X server's clock, so that "now" and captured time stamps compare.
  return static_cast<std::uint32_t>(SteadyMs() + d_->input.ClockOffsetMs());
}

void QtBackend::Sleep(std::uint32_t milliseconds) {
  X11Input::FlushToolkit();
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void QtBackend::ProgramEnded() {
  // Nothing more will be shown or played; the key goes back to the desktop.
  d_->playback.Stop();
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

}  // namespace vesk::qt
