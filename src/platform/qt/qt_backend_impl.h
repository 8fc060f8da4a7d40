// The Qt backend's private state, shared by the files that implement it:
// windows and controls, the message loop, hooks and playback, dialogs.
#pragma once

#include <QEventLoop>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/input_path.h"
#include "platform/posix/named_mutex.h"
#include "platform/qt/linux_input.h"
#include "platform/qt/log_model.h"
#include "platform/qt/qt_backend.h"
#include "platform/wayland/screen_lock.h"
#include "platform/winapi/hook_chain.h"
#include "platform/winapi/message_queue.h"
#include "platform/x11/playback_timer.h"
#include "platform/x11/x11_input.h"

class QIcon;

namespace vesk::qt {

using posix::NamedMutexTable;
using x11::MonotonicNs;
using x11::PlaybackTimer;

// The backend the layered-window function acts on.
QtBackend* CurrentBackend();
void SetCurrentBackend(QtBackend* backend);

inline QString ToQt(const std::string& s) { return QString::fromStdString(s); }
inline std::string FromQt(const QString& s) { return s.toStdString(); }
const QIcon& AppIcon();
std::int64_t SteadyMs();

// Pixels per dialog unit, from the average character width and the
// height of the template's font, as dialog units are defined.
struct DialogUnits {
  explicit DialogUnits(const QFont& font);
  int X(int du) const { return du * baseX / 4; }
  int Y(int du) const { return du * baseY / 8; }
  int baseX;
  int baseY;
};

// Two arrow buttons that step a number kept here and write it into the
// buddy edit.
class UpDownWidget : public QWidget {
 public:
  UpDownWidget(QWidget* parent, std::function<void(int)> step);
  int low = 0;
  int high = 100;
  int pos = 0;
  int buddy = 0;

 protected:
  void resizeEvent(QResizeEvent*) override;

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

  ControlRec* Find(int id);
  void Notify(int controlId, std::uint32_t code);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
};

struct QtBackend::Impl {
  Impl(QtBackend* owner, LinuxInput chosen);

  QtBackend* self;
  LinuxInput chosen;
  InputPath& input;
  // What replays input; the path's own unless another is put in its place.
  Injector* injector;
  wayland::ScreenLock screenLock{QDBusConnection::sessionBus(), QDBusConnection::systemBus()};
  // Stays-on-top windows lowered while the desktop's permission dialog shows.
  std::vector<QPointer<TemplateWindow>> lowered;
  NamedMutexTable mutexes;

  std::map<WindowId, QPointer<TemplateWindow>> windows;
  WindowId nextWindow = 0x1000;

  winapi::MessageQueue posted;
  QObject dispatcher;

  using Hook = winapi::HookChain::Hook;
  winapi::HookChain hooks{0x5000};

  // While UpdateWindow waits for a new window to be exposed, the event loop
  // runs for painting only: posted messages and hook calls wait.
  int suspended = 0;
  int deferredDispatches = 0;

  PlaybackTimer playback;
  std::string cancelReason;  // why the journal hooks were last cancelled

  TemplateWindow* Win(WindowId id);
  ControlRec* Ctl(WindowId window, int id);
  Hook* FirstHook(int kind);

  // Windows and controls (template_window.cpp).
  void BuildControls(TemplateWindow* w, const DialogUnits& du);
  void InstallArrowKeys(TemplateWindow* w, QWidget* buddy, int spinId);
  void ClickRadio(TemplateWindow* w, int id);
  void Spin(WindowId window, int id, int delta);

  // The message loop (qt_backend.cpp).
  void AwaitExposure(TemplateWindow* w);
  void FlushLogs(TemplateWindow* w);
  void FlushAllLogs();
  void DispatchOne();

  // Hooks (hooks.cpp).
  void OnRecorded(const EVENTMSG& e);
  void OnBreak(std::uint32_t time);
  // The journal hooks cannot go on; line says why, for the log.
  void OnLost(const std::string& line);
  // The playback hook went in: replay begins once the path is ready.
  void BeginPlayback();
  // The desktop's permission dialog may be up: let it have the front and
  // the keyboard (true), or take them back (false).
  void OnAsking(bool asking);
  void OnScreenLocked(bool locked);
  std::string DialogParent();  // "x11:<id>" of the program's window, or empty
  void KindRemoved(int kind);
  // Replays through another injector from now on (null: the path's own).
  void UseInjector(Injector* replacement);
};

}  // namespace vesk::qt
