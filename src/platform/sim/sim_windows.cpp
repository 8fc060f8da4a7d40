// The simulated desktop's windows, controls, messages and dialogs.
#include <algorithm>
#include <utility>

#include "platform/sim/sim_desktop.h"

namespace vesk::sim {

SimControl* SimWindow::Find(int controlId) {
  for (auto& c : controls) {
    if (c.id == controlId) return &c;
  }
  return nullptr;
}

void SimWindow::ControlRect(const SimControl& c, int* r) const {
  for (const auto& ct : tmpl->controls) {
    if (ct.id == c.id && ct.kind == c.kind) {
      r[0] = left + ct.x * kDialogUnitX;
      r[1] = top + ct.y * kDialogUnitY;
      r[2] = r[0] + ct.cx * kDialogUnitX;
      r[3] = r[1] + ct.cy * kDialogUnitY;
      return;
    }
  }
  r[0] = r[1] = r[2] = r[3] = 0;
}

SimControl* SimWindow::ControlAt(int x, int y) {
  // Group boxes frame other controls and take no clicks.
  for (auto& c : controls) {
    if (c.kind == ControlKind::GroupBox || c.kind == ControlKind::StaticText) continue;
    int r[4];
    ControlRect(c, r);
    if (x >= r[0] && x < r[2] && y >= r[1] && y < r[3]) return &c;
  }
  return nullptr;
}

// The screen the model lays windows out on.
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;

void SimDesktop::Place(SimWindow& w) {
  w.width = w.tmpl->cx * kDialogUnitX;
  w.height = w.tmpl->cy * kDialogUnitY;
  // Centred on a visible owner, else on the screen, as dialogs are.
  int cx = kScreenWidth / 2;
  int cy = kScreenHeight / 2;
  if (SimWindow* owner = Window(w.parent); owner != nullptr && owner->visible) {
    cx = owner->left + owner->width / 2;
    cy = owner->top + owner->height / 2;
  }
  w.left = cx - w.width / 2;
  w.top = cy - w.height / 2;
}

// ---------------------------------------------------------------- reading back

SimWindow* SimDesktop::Window(WindowId id) {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : it->second.get();
}

WindowId SimDesktop::FindWindow(int templateId) {
  WindowId found = 0;
  for (auto& [id, w] : windows_) {
    if (w->tmpl->id == templateId) found = id;
  }
  if (found == 0) {  // a program that already ended: its last window
    for (auto& [id, w] : closed_) {
      if (w->tmpl->id == templateId) found = id;
    }
  }
  return found;
}

std::vector<std::string> SimDesktop::LogLines(WindowId window) {
  SimWindow* w = Window(window);
  if (w == nullptr && closed_.count(window) != 0) w = closed_[window].get();
  SimControl* c = w != nullptr ? w->Find(IDC_LOG) : nullptr;
  return c != nullptr ? c->lines : std::vector<std::string>{};
}

bool SimDesktop::HookInstalled(int kind) const { return hooks_.AnyAlive(kind); }

int SimDesktop::HookInstallCount(int kind) const {
  auto it = hookInstalls_.find(kind);
  return it == hookInstalls_.end() ? 0 : it->second;
}

// ---------------------------------------------------------------- windows

WindowId SimDesktop::CreateDialogWindow(const DialogTemplate& tmpl, WindowId parent,
                                        WindowSink* sink) {
  auto w = std::make_unique<SimWindow>();
  w->id = nextWindow_++;
  w->tmpl = &tmpl;
  w->parent = parent;
  w->sink = sink;
  w->title = tmpl.caption;
  if ((tmpl.style & style::DS_SYSMODAL) != 0) w->exStyle |= WS_EX_TOPMOST;
  int previous = 0;
  for (const auto& ct : tmpl.controls) {
    SimControl c;
    c.id = ct.id;
    c.kind = ct.kind;
    c.style = ct.style;
    c.text = ct.text;
    c.enabled = (ct.style & style::WS_DISABLED) == 0;
    if (ct.kind == ControlKind::UpDown && (ct.style & style::UDS_AUTOBUDDY) != 0)
      c.buddy = previous;
    w->controls.push_back(std::move(c));
    previous = ct.id;
  }
  const WindowId id = w->id;
  windows_[id] = std::move(w);
  return id;
}

void SimDesktop::DestroyWindow(WindowId window) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  // Kept for reading back what it showed last; no longer reachable.
  it->second->sink = nullptr;
  std::erase(zOrder_, window);
  if (focus_ == window) focus_ = 0;
  closed_[window] = std::move(it->second);
  windows_.erase(it);
  posted_.Forget(window);
}

int SimDesktop::RunModalLoop(WindowId window) {
  SimWindow* w = Window(window);
  if (w == nullptr) return -1;
  w->visible = (w->tmpl->style & style::WS_VISIBLE) != 0;
  w->modalRunning = true;
  const WindowId previousFocus = focus_;
  if (w->visible) {
    Place(*w);
    zOrder_.push_back(window);
    focus_ = window;
  }
  // The owner takes no input while its modal window runs.
  const WindowId ownerId = w->parent;
  SimWindow* owner = Window(ownerId);
  const bool ownerWasDisabled = owner != nullptr && owner->disabled;
  if (owner != nullptr) owner->disabled = true;
  while (true) {
    w = Window(window);
    if (w == nullptr) {
      if (SimWindow* o = Window(ownerId)) o->disabled = ownerWasDisabled;
      return -1;
    }
    if (w->modalEnded) break;
    if (abort_) return IDCANCEL;
    if (!ProcessOne()) Park();
  }
  w->modalRunning = false;
  w->modalEnded = false;
  w->visible = false;
  std::erase(zOrder_, window);
  if (SimWindow* o = Window(ownerId)) {
    o->disabled = ownerWasDisabled;
    if (focus_ == window) focus_ = o->visible ? o->id : previousFocus;
  } else if (focus_ == window) {
    focus_ = previousFocus;
  }
  return w->modalResult;
}

void SimDesktop::EndModalLoop(WindowId window, int result) {
  if (SimWindow* w = Window(window)) {
    w->modalEnded = true;
    w->modalResult = result;
  }
}

void SimDesktop::SetWindowText(WindowId window, const std::string& text) {
  if (SimWindow* w = Window(window)) w->title = text;
}

std::string SimDesktop::GetWindowText(WindowId window) {
  SimWindow* w = Window(window);
  return w != nullptr ? w->title : std::string{};
}

std::uint32_t SimDesktop::GetWindowLong(WindowId window, int index) {
  SimWindow* w = Window(window);
  return w != nullptr && index == GWL_EXSTYLE ? w->exStyle : 0;
}

std::uint32_t SimDesktop::SetWindowLong(WindowId window, int index, std::uint32_t value) {
  SimWindow* w = Window(window);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  return std::exchange(w->exStyle, value);
}

void SimDesktop::UpdateWindow(WindowId window) {
  if (SimWindow* w = Window(window)) {
    ++w->repaints;
    w->titleAtLastRepaint = w->title;
    trace_.push_back("paint " + w->title);
    SimControl* log = w->Find(IDC_LOG);
    w->paints.push_back({now_, w->title, log != nullptr ? log->lines : std::vector<std::string>{},
                         w->alpha, w->exStyle});
  }
}

void SimDesktop::SetIcon(WindowId window, int iconResource, bool big) {
  if (SimWindow* w = Window(window)) (big ? w->bigIcon : w->smallIcon) = iconResource;
}

bool SimDesktop::IsIconic(WindowId window) {
  SimWindow* w = Window(window);
  return w != nullptr && w->iconic;
}

void SimDesktop::PaintIconic(WindowId window, int, int x, int y) {
  if (SimWindow* w = Window(window)) {
    w->iconX = x;
    w->iconY = y;
  }
}

void SimDesktop::GetClientSize(WindowId window, int* width, int* height) {
  SimWindow* w = Window(window);
  *width = w != nullptr ? w->tmpl->cx * kDialogUnitX : 0;
  *height = w != nullptr ? w->tmpl->cy * kDialogUnitY : 0;
}

int SimDesktop::GetSystemMetrics(int index) {
  return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

// ---------------------------------------------------------------- controls

bool SimDesktop::HasControl(WindowId window, int id) {
  SimWindow* w = Window(window);
  return w != nullptr && w->Find(id) != nullptr;
}

void SimDesktop::EnableControl(WindowId window, int id, bool enable) {
  SimWindow* w = Window(window);
  if (SimControl* c = w != nullptr ? w->Find(id) : nullptr) c->enabled = enable;
}

bool SimDesktop::IsControlEnabled(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr && c->enabled;
}

void SimDesktop::SetControlText(WindowId window, int id, const std::string& text) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return;
  c->text = text;
  if (c->kind == ControlKind::Edit) Notify(*w, id, EN_CHANGE);
}

std::string SimDesktop::GetControlText(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? c->text : std::string{};
}

void SimDesktop::SetCheck(WindowId window, int id, bool checked) {
  SimWindow* w = Window(window);
  if (SimControl* c = w != nullptr ? w->Find(id) : nullptr) c->checked = checked;
}

bool SimDesktop::GetCheck(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr && c->checked;
}

int SimDesktop::ListAddString(WindowId window, int id, const std::string& text) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return -1;
  c->lines.push_back(text);
  return static_cast<int>(c->lines.size()) - 1;
}

int SimDesktop::ListGetCount(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? static_cast<int>(c->lines.size()) : 0;
}

void SimDesktop::ListDeleteFirst(WindowId window, int id, int count) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr || count <= 0) return;
  const auto n = std::min(c->lines.size(), static_cast<std::size_t>(count));
  c->lines.erase(c->lines.begin(), c->lines.begin() + static_cast<std::ptrdiff_t>(n));
  c->curSel = c->curSel >= static_cast<int>(n) ? c->curSel - static_cast<int>(n) : -1;
}

void SimDesktop::ListSetCurSel(WindowId window, int id, int index) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return;
  c->curSel = index >= 0 && index < static_cast<int>(c->lines.size()) ? index : -1;
}

int SimDesktop::ListGetCurSel(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? c->curSel : -1;
}

std::string SimDesktop::ListGetText(WindowId window, int id, int index) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->lines.size())) return {};
  return c->lines[static_cast<std::size_t>(index)];
}

void SimDesktop::UpDownSetRange(WindowId window, int id, int low, int high) {
  SimWindow* w = Window(window);
  if (SimControl* c = w != nullptr ? w->Find(id) : nullptr) {
    c->low = low;
    c->high = high;
  }
}

void SimDesktop::UpDownSetPos(WindowId window, int id, int pos) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return;
  c->pos = std::clamp(pos, c->low, c->high);
  if (c->buddy != 0 && (c->style & style::UDS_SETBUDDYINT) != 0) {
    SetControlText(window, c->buddy, std::to_string(c->pos));
  }
}

int SimDesktop::UpDownGetPos(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? c->pos : 0;
}

// ---------------------------------------------------------------- messages

std::uint32_t SimDesktop::RegisterWindowMessage(const std::string& name) {
  return posted_.Register(name);
}

bool SimDesktop::PostMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) {
  if (window != 0 && Window(window) == nullptr) return false;
  posted_.Post(window, message, wParam, lParam);
  return true;
}

std::optional<std::string> SimDesktop::ShowFileDialog(WindowId owner,
                                                      const FileDialogRequest& request) {
  fileDialogs_.push_back(request);
  if (std::exchange(keepFileDialogOpen_, false)) {
    // Modal: its owner takes no clicks and no keys while it is open.
    SimWindow* o = Window(owner);
    const bool ownerWasDisabled = o != nullptr && o->disabled;
    if (o != nullptr) o->disabled = true;
    fileDialogOpen_ = true;
    while (fileDialogOpen_ && !abort_) {
      if (!ProcessOne()) Park();
    }
    if (SimWindow* again = Window(owner)) again->disabled = ownerWasDisabled;
    return std::exchange(openDialogAnswer_, std::nullopt);
  }
  if (fileAnswers_.empty()) {
    Surprise("file dialog without a scripted answer: " + request.title);
    return std::nullopt;
  }
  auto answer = fileAnswers_.front();
  fileAnswers_.pop_front();
  return answer;
}

void SimDesktop::CloseFileDialog(std::optional<std::string> path) {
  Do([this, path = std::move(path)] {
    if (!fileDialogOpen_) {
      Surprise("no file dialog is open");
      return;
    }
    openDialogAnswer_ = path;
    fileDialogOpen_ = false;
  });
}

int SimDesktop::MessageBox(WindowId owner, const std::string& text, const std::string& caption,
                           std::uint32_t style) {
  boxes_.push_back({owner, text, caption, style});
  if (boxAnswers_.empty()) {
    Surprise("message box without a scripted answer: " + text);
    return IDNO;
  }
  const int answer = boxAnswers_.front();
  boxAnswers_.pop_front();
  return answer;
}

}  // namespace vesk::sim
