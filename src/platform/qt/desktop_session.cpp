// What the desktop around the program does to playback: its permission
// dialog wants the front and the keyboard, and a locked screen takes no input.
#include <QWindow>

#include <cstdio>
#include <utility>

#include "platform/qt/qt_backend_impl.h"

namespace vesk::qt {

std::string QtBackend::Impl::DialogParent() {
  // The dialog belongs to the program's window, so the desktop shows it
  // above that window rather than under it.
  // The window handle's id: the widget's own goes stale when a flag change
  // recreates the native window.
  for (const auto& [id, w] : windows) {
    const QWindow* native = w != nullptr && w->isVisible() ? w->windowHandle() : nullptr;
    if (native != nullptr && native->winId() != 0) {
      char handle[32];
      std::snprintf(handle, sizeof handle, "x11:%llx",
                    static_cast<unsigned long long>(native->winId()));
      return handle;
    }
  }
  return {};
}

void QtBackend::Impl::OnAsking(bool asking) {
  if (asking) {
    for (const auto& [id, w] : windows) {
      if (w == nullptr || !w->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) continue;
      const bool shown = w->isVisible();
      w->setWindowFlag(Qt::WindowStaysOnTopHint, false);
      if (shown) w->show();  // changing flags hides a window
      lowered.push_back(w);
    }
    // Named after the lowering, which gives the window a new native id.
    input.SetDialogParent(DialogParent());
    input.UngrabBreak();
    return;
  }
  for (const auto& w : std::exchange(lowered, {})) {
    if (w == nullptr) continue;
    const bool shown = w->isVisible();
    w->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (shown) w->show();
  }
  if (FirstHook(WH_KEYBOARD_LL) != nullptr) input.GrabBreak();
}

void QtBackend::Impl::OnScreenLocked(bool locked) {
  if (locked && FirstHook(WH_JOURNALPLAYBACK) != nullptr)
    OnLost("The screen is locked: playback paused; nothing is typed into a locked session.");
}

}  // namespace vesk::qt
