// What the desktop around the program does to playback: its permission
// dialog wants the front and the keyboard, and a locked screen takes no input.
#include <QWindow>

#include <cstdio>
#include <utility>

#include "platform/qt/qt_backend_impl.h"

namespace vesk::qt {

std::string QtBackend::Impl::DialogParent() {
  // The dialog belongs to the program's window, so the desktop shows it
  // above that window rather than under it. The native window's own id:
  // the widget's goes stale whenever Qt makes the native window anew.
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
  // On the native window itself: changing the widget's flags would make a
  // new X window, leaving the dialog's parent stale and dropping the
  // click-through that playback set on the old one.
  if (asking) {
    for (const auto& [id, w] : windows) {
      QWindow* handle = w != nullptr ? w->windowHandle() : nullptr;
      if (handle == nullptr || !handle->flags().testFlag(Qt::WindowStaysOnTopHint)) continue;
      handle->setFlag(Qt::WindowStaysOnTopHint, false);
      lowered.push_back(w);
    }
    // Named as the dialog is asked for, of the windows as they are now.
    input.SetDialogParent(DialogParent());
    input.UngrabBreak();
    return;
  }
  for (const auto& w : std::exchange(lowered, {})) {
    if (w != nullptr && w->windowHandle() != nullptr)
      w->windowHandle()->setFlag(Qt::WindowStaysOnTopHint, true);
  }
  if (FirstHook(WH_KEYBOARD_LL) != nullptr) input.GrabBreak();
}

void QtBackend::Impl::OnScreenLocked(bool locked) {
  if (locked && FirstHook(WH_JOURNALPLAYBACK) != nullptr)
    OnLost("The screen is locked: playback paused; nothing is typed into a locked session.");
}

}  // namespace vesk::qt
