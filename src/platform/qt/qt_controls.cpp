// The controls of template windows, reached by window and identifier.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

#include "platform/qt/qt_backend_impl.h"

namespace vesk::qt {

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
      static_cast<QAbstractButton*>(c->widget)->setText(ToQt(text));
      break;
    case ControlKind::StaticText:
      static_cast<QLabel*>(c->widget)->setText(ToQt(text));
      break;
    case ControlKind::GroupBox:
      static_cast<QGroupBox*>(c->widget)->setTitle(ToQt(text));
      break;
    case ControlKind::Edit: {
      auto* e = static_cast<QLineEdit*>(c->widget);
      e->setText(ToQt(text));
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
      return FromQt(static_cast<QAbstractButton*>(c->widget)->text());
    case ControlKind::StaticText:
      return FromQt(static_cast<QLabel*>(c->widget)->text());
    case ControlKind::GroupBox:
      return FromQt(static_cast<QGroupBox*>(c->widget)->title());
    case ControlKind::Edit:
      return FromQt(static_cast<QLineEdit*>(c->widget)->text());
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

}  // namespace vesk::qt
