// The dialog framework on top of the platform's windows: templates, message tables, modal runs.
#include "platform/dialog.h"

namespace vesk {

namespace {
Backend* g_backend = nullptr;
}  // namespace

Backend& Sys() { return *g_backend; }
void InstallBackend(Backend* backend) { g_backend = backend; }
bool HasBackend() { return g_backend != nullptr; }

void Control::Enable(bool enable) const { Sys().EnableControl(window_, id_, enable); }
bool Control::IsEnabled() const { return Sys().IsControlEnabled(window_, id_); }
void Control::SetText(const std::string& text) const { Sys().SetControlText(window_, id_, text); }
std::string Control::GetText() const { return Sys().GetControlText(window_, id_); }
void Control::SetCheck(bool checked) const { Sys().SetCheck(window_, id_, checked); }
bool Control::GetCheck() const { return Sys().GetCheck(window_, id_); }
int Control::AddString(const std::string& text) const {
  return Sys().ListAddString(window_, id_, text);
}
void Control::DeleteFirst(int count) const { Sys().ListDeleteFirst(window_, id_, count); }

int Control::GetCount() const { return Sys().ListGetCount(window_, id_); }
void Control::SetCurSel(int index) const { Sys().ListSetCurSel(window_, id_, index); }
int Control::GetCurSel() const { return Sys().ListGetCurSel(window_, id_); }
std::string Control::GetLine(int index) const { return Sys().ListGetText(window_, id_, index); }
void Control::SetRange32(int low, int high) const { Sys().UpDownSetRange(window_, id_, low, high); }
void Control::SetPos32(int pos) const { Sys().UpDownSetPos(window_, id_, pos); }
int Control::GetPos32() const { return Sys().UpDownGetPos(window_, id_); }

Dialog::Dialog(int templateId, Dialog* parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
  // Derived parts are gone by now: only the window itself is left to undo.
  if (window_ != 0) Sys().DestroyWindow(window_);
}

bool Dialog::Create() {
  const DialogTemplate* tmpl = FindDialogTemplate(templateId_);
  if (tmpl == nullptr) return false;
  window_ = Sys().CreateDialogWindow(*tmpl, parent_ != nullptr ? parent_->window_ : 0, this);
  if (window_ == 0) return false;
  OnInitDialog();
  return true;
}

void Dialog::DestroyWindow() {
  if (window_ == 0) return;
  OnDestroy();
  Sys().DestroyWindow(window_);
  window_ = 0;
}

int Dialog::DoModal() {
  if (!Create()) return -1;
  const int result = Sys().RunModalLoop(window_);
  DestroyWindow();
  return result;
}

void Dialog::EndDialog(int result) {
  if (window_ != 0) Sys().EndModalLoop(window_, result);
}

Control Dialog::GetDlgItem(int id) const {
  if (window_ == 0 || !Sys().HasControl(window_, id)) return {};
  return {window_, id};
}

void Dialog::SetWindowText(const std::string& text) const { Sys().SetWindowText(window_, text); }
std::string Dialog::GetWindowText() const { return Sys().GetWindowText(window_); }
void Dialog::PostMessage(std::uint32_t message, WParam wParam, LParam lParam) const {
  Sys().PostMessage(window_, message, wParam, lParam);
}
void Dialog::UpdateWindow() const { Sys().UpdateWindow(window_); }
void Dialog::SetIcon(int iconResource, bool big) const {
  Sys().SetIcon(window_, iconResource, big);
}

const MessageMap* Dialog::GetMessageMap() const {
  static const MessageMap kMap{nullptr, {}};
  return &kMap;
}

LResult Dialog::HandleMessage(std::uint32_t message, WParam wParam, LParam lParam) {
  for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
    for (const MessageMapEntry& e : map->entries) {
      bool match = false;
      switch (e.kind) {
        case MessageMapEntry::Kind::Command:
          match = message == WM_COMMAND && CommandId(wParam) == e.controlId &&
                  CommandNotify(wParam) == e.value;
          break;
        case MessageMapEntry::Kind::Registered:
          match = e.registeredMessage != nullptr && *e.registeredMessage != 0 &&
                  message == *e.registeredMessage;
          break;
        case MessageMapEntry::Kind::Message:
          match = message == e.value;
          break;
      }
      if (match) return e.handler(*this, wParam, lParam);
    }
  }
  // The framework's defaults: OK and Cancel end the run; so does the close box.
  if (message == WM_COMMAND && CommandNotify(wParam) == BN_CLICKED) {
    if (CommandId(wParam) == IDOK) OnOK();
    if (CommandId(wParam) == IDCANCEL) OnCancel();
    return 0;
  }
  if (message == WM_CLOSE) OnCancel();
  return 0;
}

}  // namespace vesk
