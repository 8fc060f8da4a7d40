// The Windows backend: windows, controls, messages, time and the rest of
// the services, on the Win32 API.
#include "platform/win32/win32_backend.h"

#include <algorithm>
#include <vector>

#include "platform/win32/clock.h"
#include "platform/win32/dialog_builder.h"
#include "platform/win32/dpi.h"
#include "platform/win32/file_dialog.h"
#include "platform/win32/hook_bridge.h"
#include "platform/win32/windows_api.h"

namespace vesk::win32 {

struct Win32Backend::WindowData {
  Win32Backend* backend = nullptr;
  HWND hwnd = nullptr;
  const DialogTemplate* tmpl = nullptr;
  WindowSink* sink = nullptr;
  bool ended = false;
  int result = 0;
  HDC paintDc = nullptr;  // while a minimised window paints
};

namespace {

HWND H(WindowId window) { return reinterpret_cast<HWND>(window); }
WindowId Id(HWND hwnd) { return reinterpret_cast<WindowId>(hwnd); }
HINSTANCE Instance() { return ::GetModuleHandleA(nullptr); }

std::string TextOf(HWND hwnd) {
  if (hwnd == nullptr) return {};
  const int length = ::GetWindowTextLengthA(hwnd);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = ::GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

// The system's layered-window function, behind our own signature (the
// engine passes its window identifiers, not HWNDs).
using SystemLayeredFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
SystemLayeredFn g_layered = nullptr;

int LayeredAttributes(WindowId window, std::uint32_t colorKey, std::uint8_t alpha,
                      std::uint32_t flags) {
  return g_layered != nullptr && g_layered(H(window), colorKey, alpha, flags) ? 1 : 0;
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  using WindowData = Win32Backend::WindowData;
  if (message == WM_INITDIALOG) {
    auto* data = reinterpret_cast<WindowData*>(lParam);
    data->hwnd = hwnd;
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    return TRUE;
  }
  auto* data = reinterpret_cast<WindowData*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  if (data == nullptr || data->sink == nullptr) return FALSE;
  WindowSink* sink = data->sink;
  switch (message) {
    case WM_COMMAND:
    case WM_CLOSE:
      sink->HandleMessage(message, wParam, lParam);
      return TRUE;
    case WM_PAINT: {
      if (!::IsIconic(hwnd)) {
        sink->HandleMessage(message, wParam, lParam);
        return FALSE;  // a plain dialog paints itself
      }
      PAINTSTRUCT ps;
      data->paintDc = ::BeginPaint(hwnd, &ps);
      sink->HandleMessage(message, wParam, lParam);
      ::EndPaint(hwnd, &ps);
      data->paintDc = nullptr;
      return TRUE;
    }
    case WM_QUERYDRAGICON: {
      const LResult icon = sink->HandleMessage(message, wParam, lParam);
      if (icon == 0) return FALSE;
      return reinterpret_cast<INT_PTR>(::LoadIconA(Instance(), MAKEINTRESOURCEA(icon)));
    }
    default:
      break;
  }
  // Registered and application messages; the dialog manager's own
  // (WM_USER range: DM_GETDEFID, ...) stay with it.
  if (message >= WM_APP) {
    const LResult result = sink->HandleMessage(message, wParam, lParam);
    ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
  return FALSE;
}

RECT RectIn(HWND parent, HWND child) {
  RECT r{};
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Dialog units follow the font, but a caption's width in pixels does not
// follow them exactly at every DPI and with every font the system maps the
// template's onto. A caption that would be cut is given the room it needs,
// as far as the free space to its right (within its group box) allows.
void FitCaptions(HWND dialog, const DialogTemplate& tmpl) {
  HDC dc = ::GetDC(dialog);
  if (dc == nullptr) return;
  HGDIOBJ oldFont =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0)));
  RECT client{};
  ::GetClientRect(dialog, &client);
  std::vector<std::pair<const ControlTemplate*, HWND>> controls;
  for (const ControlTemplate& c : tmpl.controls) {
    if (HWND h = c.id != -1 ? ::GetDlgItem(dialog, c.id) : nullptr) controls.emplace_back(&c, h);
  }
  // Group boxes have no identifier: found among the children by class.
  std::vector<RECT> groups;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if ((::GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) {
      char cls[16] = {};
      ::GetClassNameA(child, cls, sizeof(cls));
      if (::lstrcmpiA(cls, "Button") == 0) groups.push_back(RectIn(dialog, child));
    }
  }
  for (const auto& [c, hwnd] : controls) {
    const bool captioned = c->kind == ControlKind::StaticText ||
                           c->kind == ControlKind::PushButton || c->kind == ControlKind::CheckBox ||
                           c->kind == ControlKind::RadioButton;
    if (!captioned || c->text == nullptr || *c->text == '\0') continue;
    if (c->kind == ControlKind::StaticText && (c->style & SS_TYPEMASK) > SS_RIGHT &&
        (c->style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP) {
      continue;  // icons, frames and the like
    }
    std::string text = c->text;
    std::erase(text, '&');
    RECT need{};
    ::DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE);
    int extra = 0;
    if (c->kind == ControlKind::CheckBox || c->kind == ControlKind::RadioButton) {
      extra = ::GetSystemMetrics(SM_CXMENUCHECK) + 4;
    } else if (c->kind == ControlKind::PushButton) {
      extra = 4 * ::GetSystemMetrics(SM_CXEDGE);
    }
    RECT r = RectIn(dialog, hwnd);
    RECT inner{};
    ::GetClientRect(hwnd, &inner);
    const int frame = (r.right - r.left) - inner.right;
    const int wanted = r.left + frame + (need.right - need.left) + extra;
    if (wanted <= r.right) continue;
    int limit = client.right - 2;
    for (const RECT& g : groups) {
      if (g.left <= r.left && g.right >= r.right && g.top <= r.top && g.bottom >= r.bottom) {
        limit = std::min<int>(limit, g.right - 4);
      }
    }
    for (const auto& [other, otherHwnd] : controls) {
      if (otherHwnd == hwnd) continue;
      const RECT o = RectIn(dialog, otherHwnd);
      if (o.left >= r.right && o.top < r.bottom && o.bottom > r.top) {
        limit = std::min<int>(limit, o.left - 2);
      }
    }
    const int right = std::min(wanted, limit);
    if (right > r.right) {
      ::SetWindowPos(hwnd, nullptr, 0, 0, right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ::SelectObject(dc, oldFont);
  ::ReleaseDC(dialog, dc);
}

std::string CurrentFolder() {
  const DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return {};
  std::string folder(size, '\0');
  const DWORD got = ::GetCurrentDirectoryA(size, folder.data());
  folder.resize(got < size ? got : 0);
  return folder;
}

}  // namespace

Win32Backend::Win32Backend() : Win32Backend(JournalMode::Automatic) {}

Win32Backend::Win32Backend(JournalMode mode) : startFolder_(CurrentFolder()) {
  // Before any window exists: awareness is fixed once windows are made.
  EnableDpiAwareness();
  hooks_ = std::make_unique<HookBridge>(mode);
  // The program's windows, and the message boxes and dialogs they own.
  hooks_->SetOwnWindows([this](HWND hwnd) {
    HWND root = ::GetAncestor(hwnd, GA_ROOTOWNER);
    return std::any_of(windows_.begin(), windows_.end(),
                       [root](const auto& w) { return w.second->hwnd == root; });
  });
  INITCOMMONCONTROLSEX icc{sizeof(icc),
                           ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
}

Win32Backend::~Win32Backend() {
  hooks_.reset();
  for (auto& [id, data] : windows_) {
    ::SetWindowLongPtrA(data->hwnd, DWLP_USER, 0);
    ::DestroyWindow(data->hwnd);
  }
  for (auto& [key, icon] : icons_) ::DestroyIcon(static_cast<HICON>(icon));
}

bool Win32Backend::EmulatingJournal(int kind) const { return hooks_->Emulating(kind); }

// ---------------------------------------------------------------- windows

WindowId Win32Backend::CreateDialogWindow(const DialogTemplate& tmpl, WindowId parent,
                                          WindowSink* sink) {
  auto data = std::make_unique<WindowData>();
  data->backend = this;
  data->tmpl = &tmpl;
  data->sink = sink;
  const std::vector<WORD> words = BuildDialogTemplate(tmpl);
  HWND hwnd =
      ::CreateDialogIndirectParamA(Instance(), reinterpret_cast<LPCDLGTEMPLATEA>(words.data()),
                                   H(parent), &DialogProc, reinterpret_cast<LPARAM>(data.get()));
  if (hwnd == nullptr) return 0;
  FitCaptions(hwnd, tmpl);
  windows_[Id(hwnd)] = std::move(data);
  return Id(hwnd);
}

void Win32Backend::DestroyWindow(WindowId window) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  HWND hwnd = it->second->hwnd;
  it->second->sink = nullptr;  // the owner is going away: no more messages to it
  ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
  windows_.erase(it);
  ::DestroyWindow(hwnd);
}

int Win32Backend::RunModalLoop(WindowId window) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return -1;
  WindowData* data = it->second.get();
  HWND hwnd = data->hwnd;
  // An end asked before the run (as EndDialog during WM_INITDIALOG) is kept:
  // the run returns at once. Each run clears it when it is over.
  // Like a modal dialog: the owner takes no input while this one runs.
  HWND owner = ::GetWindow(hwnd, GW_OWNER);
  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);
  if ((data->tmpl->style & WS_VISIBLE) != 0) {
    ::ShowWindow(hwnd, SW_SHOW);
    if ((data->tmpl->style & DS_SETFOREGROUND) != 0) ::SetForegroundWindow(hwnd);
  }

  int result = -1;
  bool quit = false;
  WPARAM quitCode = 0;
  const auto running = [&] {
    auto found = windows_.find(window);
    if (found == windows_.end()) return false;
    data = found->second.get();
    return !data->ended;
  };
  while (running()) {
    hooks_->DrivePlayback();
    if (!running()) break;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, hooks_->PlaybackTimeout(), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
    ::MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = msg.wParam;
        break;
      }
      HWND root = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root == nullptr || !windows_.contains(Id(root)) || !::IsDialogMessageA(root, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
      if (!running() || hooks_->PlaybackTimeout() == 0) break;
    }
    if (quit) break;
  }

  if (disableOwner && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
  auto found = windows_.find(window);
  if (found != windows_.end()) {
    data = found->second.get();
    result = quit ? IDCANCEL : data->result;
    data->ended = false;
    ::ShowWindow(hwnd, SW_HIDE);
  }
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));  // for the loops outside
  return result;
}

void Win32Backend::EndModalLoop(WindowId window, int result) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  it->second->ended = true;
  it->second->result = result;
  ::PostMessageA(it->second->hwnd, WM_NULL, 0, 0);  // wakes a loop that waits for input
}

void Win32Backend::SetWindowText(WindowId window, const std::string& text) {
  ::SetWindowTextA(H(window), text.c_str());
}

std::string Win32Backend::GetWindowText(WindowId window) { return TextOf(H(window)); }

std::uint32_t Win32Backend::GetWindowLong(WindowId window, int index) {
  return static_cast<std::uint32_t>(::GetWindowLongA(H(window), index));
}

std::uint32_t Win32Backend::SetWindowLong(WindowId window, int index, std::uint32_t value) {
  return static_cast<std::uint32_t>(::SetWindowLongA(H(window), index, static_cast<LONG>(value)));
}

void Win32Backend::UpdateWindow(WindowId window) {
  ::RedrawWindow(H(window), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void* Win32Backend::Icon(int resource, bool big) {
  auto [it, inserted] = icons_.try_emplace({resource, big}, nullptr);
  if (inserted) {
    const int cx = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
    const int cy = ::GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON);
    it->second = ::LoadImageA(Instance(), MAKEINTRESOURCEA(resource), IMAGE_ICON, cx, cy, 0);
  }
  return it->second;
}

void Win32Backend::SetIcon(WindowId window, int iconResource, bool big) {
  if (void* icon = Icon(iconResource, big)) {
    ::SendMessageA(H(window), WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                   reinterpret_cast<LPARAM>(icon));
  }
}

bool Win32Backend::IsIconic(WindowId window) { return ::IsIconic(H(window)) != FALSE; }

void Win32Backend::PaintIconic(WindowId window, int iconResource, int x, int y) {
  auto it = windows_.find(window);
  HDC dc = it != windows_.end() ? it->second->paintDc : nullptr;
  const bool own = dc == nullptr;
  if (own) dc = ::GetDC(H(window));
  if (dc == nullptr) return;
  ::SendMessageA(H(window), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  if (void* icon = Icon(iconResource, true)) ::DrawIcon(dc, x, y, static_cast<HICON>(icon));
  if (own) ::ReleaseDC(H(window), dc);
}

void Win32Backend::GetClientSize(WindowId window, int* width, int* height) {
  RECT r{};
  ::GetClientRect(H(window), &r);
  *width = r.right - r.left;
  *height = r.bottom - r.top;
}

int Win32Backend::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

// ---------------------------------------------------------------- controls

void* Win32Backend::Control(WindowId window, int id) const {
  return window != 0 ? ::GetDlgItem(H(window), id) : nullptr;
}

bool Win32Backend::HasControl(WindowId window, int id) { return Control(window, id) != nullptr; }

void Win32Backend::EnableControl(WindowId window, int id, bool enable) {
  if (void* c = Control(window, id)) ::EnableWindow(static_cast<HWND>(c), enable ? TRUE : FALSE);
}

bool Win32Backend::IsControlEnabled(WindowId window, int id) {
  void* c = Control(window, id);
  return c != nullptr && ::IsWindowEnabled(static_cast<HWND>(c)) != FALSE;
}

void Win32Backend::SetControlText(WindowId window, int id, const std::string& text) {
  // An edit control reports the change to its dialog (EN_CHANGE).
  if (void* c = Control(window, id)) ::SetWindowTextA(static_cast<HWND>(c), text.c_str());
}

std::string Win32Backend::GetControlText(WindowId window, int id) {
  return TextOf(static_cast<HWND>(Control(window, id)));
}

void Win32Backend::SetCheck(WindowId window, int id, bool checked) {
  if (void* c = Control(window, id)) {
    ::SendMessageA(static_cast<HWND>(c), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

bool Win32Backend::GetCheck(WindowId window, int id) {
  void* c = Control(window, id);
  return c != nullptr && ::SendMessageA(static_cast<HWND>(c), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int Win32Backend::ListAddString(WindowId window, int id, const std::string& text) {
  void* c = Control(window, id);
  if (c == nullptr) return -1;
  const LRESULT index =
      ::SendMessageA(static_cast<HWND>(c), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  return index < 0 ? -1 : static_cast<int>(index);
}

int Win32Backend::ListGetCount(WindowId window, int id) {
  void* c = Control(window, id);
  if (c == nullptr) return 0;
  const LRESULT n = ::SendMessageA(static_cast<HWND>(c), LB_GETCOUNT, 0, 0);
  return n < 0 ? 0 : static_cast<int>(n);
}

void Win32Backend::ListDeleteFirst(WindowId window, int id, int count) {
  void* c = Control(window, id);
  if (c == nullptr) return;
  const auto list = static_cast<HWND>(c);
  ::SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  for (int i = 0; i < count && ::SendMessageA(list, LB_DELETESTRING, 0, 0) >= 0; ++i) {
  }
  ::SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
}

void Win32Backend::ListSetCurSel(WindowId window, int id, int index) {
  if (void* c = Control(window, id)) {
    ::SendMessageA(static_cast<HWND>(c), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

int Win32Backend::ListGetCurSel(WindowId window, int id) {
  void* c = Control(window, id);
  if (c == nullptr) return -1;
  const LRESULT sel = ::SendMessageA(static_cast<HWND>(c), LB_GETCURSEL, 0, 0);
  return sel < 0 ? -1 : static_cast<int>(sel);
}

std::string Win32Backend::ListGetText(WindowId window, int id, int index) {
  auto* c = static_cast<HWND>(Control(window, id));
  if (c == nullptr || index < 0) return {};
  const LRESULT length = ::SendMessageA(c, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT got = ::SendMessageA(c, LB_GETTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()));
  text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return text;
}

void Win32Backend::UpDownSetRange(WindowId window, int id, int low, int high) {
  if (void* c = Control(window, id)) {
    ::SendMessageA(static_cast<HWND>(c), UDM_SETRANGE32, static_cast<WPARAM>(low),
                   static_cast<LPARAM>(high));
  }
}

void Win32Backend::UpDownSetPos(WindowId window, int id, int pos) {
  auto* c = static_cast<HWND>(Control(window, id));
  if (c == nullptr) return;
  ::SendMessageA(c, UDM_SETPOS32, 0, static_cast<LPARAM>(pos));
  // The control writes its buddy only when the position changes; the
  // engine relies on the buddy showing the position every time.
  const auto buddy = reinterpret_cast<HWND>(::SendMessageA(c, UDM_GETBUDDY, 0, 0));
  if (buddy != nullptr && (::GetWindowLongA(c, GWL_STYLE) & UDS_SETBUDDYINT) != 0) {
    const std::string shown = std::to_string(UpDownGetPos(window, id));
    if (TextOf(buddy) != shown) ::SetWindowTextA(buddy, shown.c_str());
  }
}

int Win32Backend::UpDownGetPos(WindowId window, int id) {
  auto* c = static_cast<HWND>(Control(window, id));
  if (c == nullptr) return 0;
  BOOL failed = FALSE;
  const LRESULT pos = ::SendMessageA(c, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&failed));
  return static_cast<int>(pos);
}

// ---------------------------------------------------------------- messages

std::uint32_t Win32Backend::RegisterWindowMessage(const std::string& name) {
  return ::RegisterWindowMessageA(name.c_str());
}

bool Win32Backend::PostMessage(WindowId window, std::uint32_t message, WParam wParam,
                               LParam lParam) {
  return ::PostMessageA(H(window), message, wParam, lParam) != FALSE;
}

int Win32Backend::MessageBox(WindowId owner, const std::string& text, const std::string& caption,
                             std::uint32_t style) {
  return ::MessageBoxA(H(owner), text.c_str(), caption.c_str(), style);
}

// ---------------------------------------------------------------- libraries

ModuleHandle Win32Backend::LoadLibrary(const std::string& name) {
  return reinterpret_cast<ModuleHandle>(::LoadLibraryA(name.c_str()));
}

ProcAddress Win32Backend::GetProcAddress(ModuleHandle module, const std::string& name) {
  if (module == 0) return nullptr;
  const auto found = reinterpret_cast<ProcAddress>(
      ::GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str()));
  if (found == nullptr) return nullptr;
  if (name == "SetLayeredWindowAttributes") {
    g_layered = reinterpret_cast<SystemLayeredFn>(found);
    return reinterpret_cast<ProcAddress>(&LayeredAttributes);
  }
  return found;
}

void Win32Backend::FreeLibrary(ModuleHandle module) {
  if (module != 0) ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

// ---------------------------------------------------------------- hooks, time, mutex

HookHandle Win32Backend::SetWindowsHookEx(int kind, HookProc proc) {
  return hooks_->Install(kind, proc);
}

bool Win32Backend::UnhookWindowsHookEx(HookHandle hook) { return hooks_->Remove(hook); }

LResult Win32Backend::CallNextHookEx(HookHandle hook, int code, WParam wParam, LParam lParam) {
  return hooks_->CallNext(hook, code, wParam, lParam);
}

std::uint32_t Win32Backend::SendInput(const std::vector<EVENTMSG>& events) {
  return hooks_->SendNow(events);
}

std::uint32_t Win32Backend::GetTickCount() { return TickMs(); }

std::uint64_t Win32Backend::GetMicroseconds() { return static_cast<std::uint64_t>(NowUs()); }

// The low-level hooks answer from their own thread meanwhile.
void Win32Backend::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

MutexHandle Win32Backend::CreateMutex(const std::string& name) {
  return reinterpret_cast<MutexHandle>(::CreateMutexA(nullptr, FALSE, name.c_str()));
}

std::uint32_t Win32Backend::WaitForSingleObject(MutexHandle mutex, std::uint32_t milliseconds) {
  if (mutex == 0) return WAIT_FAILED;
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(mutex), milliseconds);
}

bool Win32Backend::ReleaseMutex(MutexHandle mutex) {
  return mutex != 0 && ::ReleaseMutex(reinterpret_cast<HANDLE>(mutex)) != FALSE;
}

void Win32Backend::CloseHandle(MutexHandle mutex) {
  if (mutex != 0) ::CloseHandle(reinterpret_cast<HANDLE>(mutex));
}

// ---------------------------------------------------------------- notes

std::vector<std::string> Win32Backend::StartupNotes() {
  std::vector<std::string> notes;
  if (CurrentDpiAwareness() < DpiAwareness::PerMonitor) {
    notes.emplace_back(
        "Display scaling: this Windows gives Vesk scaled coordinates; on a scaled display "
        "recordings may replay off target.");
  }
  return notes;
}

std::string Win32Backend::InputPathNote(bool playback) {
  (void)playback;  // recording and playback take the same path
  if (hooks_->JournalRefused()) {
    return "Input: low-level hooks (Windows refused the journal hooks).";
  }
  return hooks_->Choice().note;
}

std::string Win32Backend::TakeCancelReason() { return hooks_->TakeCancelReason(); }
std::string Win32Backend::TakeNote() { return hooks_->TakeNote(); }

}  // namespace vesk::win32
