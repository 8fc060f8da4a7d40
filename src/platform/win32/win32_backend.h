// The Windows backend: the platform services on the Win32 API itself.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vesk::win32 {

enum class JournalMode;
class HookBridge;

class Win32Backend final : public Backend, public Diagnostics {
 public:
  // Initialises the common controls. Construct and use on the thread that
  // runs the program: windows and hooks belong to it.
  Win32Backend();
  explicit Win32Backend(JournalMode mode);
  ~Win32Backend() override;

  WindowId CreateDialogWindow(const DialogTemplate& tmpl, WindowId parent,
                              WindowSink* sink) override;
  void DestroyWindow(WindowId window) override;
  int RunModalLoop(WindowId window) override;
  void EndModalLoop(WindowId window, int result) override;
  void SetWindowText(WindowId window, const std::string& text) override;
  std::string GetWindowText(WindowId window) override;
  std::uint32_t GetWindowLong(WindowId window, int index) override;
  std::uint32_t SetWindowLong(WindowId window, int index, std::uint32_t value) override;
  void UpdateWindow(WindowId window) override;
  void SetIcon(WindowId window, int iconResource, bool big) override;
  bool IsIconic(WindowId window) override;
  void PaintIconic(WindowId window, int iconResource, int x, int y) override;
  void GetClientSize(WindowId window, int* width, int* height) override;
  int GetSystemMetrics(int index) override;

  bool HasControl(WindowId window, int id) override;
  void EnableControl(WindowId window, int id, bool enable) override;
  bool IsControlEnabled(WindowId window, int id) override;
  void SetControlText(WindowId window, int id, const std::string& text) override;
  std::string GetControlText(WindowId window, int id) override;
  void SetCheck(WindowId window, int id, bool checked) override;
  bool GetCheck(WindowId window, int id) override;
  int ListAddString(WindowId window, int id, const std::string& text) override;
  int ListGetCount(WindowId window, int id) override;
  void ListDeleteFirst(WindowId window, int id, int count) override;
  void ListSetCurSel(WindowId window, int id, int index) override;
  int ListGetCurSel(WindowId window, int id) override;
  std::string ListGetText(WindowId window, int id, int index) override;
  void UpDownSetRange(WindowId window, int id, int low, int high) override;
  void UpDownSetPos(WindowId window, int id, int pos) override;
  int UpDownGetPos(WindowId window, int id) override;

  std::uint32_t RegisterWindowMessage(const std::string& name) override;
  bool PostMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) override;

  std::optional<std::string> ShowFileDialog(WindowId owner,
                                            const FileDialogRequest& request) override;
  int MessageBox(WindowId owner, const std::string& text, const std::string& caption,
                 std::uint32_t style) override;

  ModuleHandle LoadLibrary(const std::string& name) override;
  ProcAddress GetProcAddress(ModuleHandle module, const std::string& name) override;
  void FreeLibrary(ModuleHandle module) override;

  HookHandle SetWindowsHookEx(int kind, HookProc proc) override;
  bool UnhookWindowsHookEx(HookHandle hook) override;
  LResult CallNextHookEx(HookHandle hook, int code, WParam wParam, LParam lParam) override;

  std::uint32_t SendInput(const std::vector<EVENTMSG>& events) override;

  std::uint32_t GetTickCount() override;
  std::uint64_t GetMicroseconds() override;
  void Sleep(std::uint32_t milliseconds) override;

  MutexHandle CreateMutex(const std::string& name) override;
  std::uint32_t WaitForSingleObject(MutexHandle mutex, std::uint32_t milliseconds) override;
  bool ReleaseMutex(MutexHandle mutex) override;
  void CloseHandle(MutexHandle mutex) override;

  std::vector<std::string> StartupNotes() override;
  std::string InputPathNote(bool playback) override;
  std::string TakeCancelReason() override;
  std::string TakeNote() override;
  void ProgramEnded() override {}  // the hooks and windows go with their owners
  Diagnostics& Notes() override { return *this; }
  // A program without a console: the log is where the line shows.
  void Notice(const std::string&) override {}
  StateFiles& Files() override { return NativeStateFiles(); }

  // Whether the journal hook of that kind runs on the low-level path.
  bool EmulatingJournal(int kind) const;
  HookBridge& Hooks() { return *hooks_; }
  // The folder the settings file lives in: the working folder at start-up,
  // which the file dialogs are not allowed to move.
  const std::string& StartFolder() const { return startFolder_; }

  struct WindowData;

 private:
  void* Control(WindowId window, int id) const;  // the control's HWND, or null
  void* Icon(int resource, bool big);

  std::string startFolder_;
  std::unique_ptr<HookBridge> hooks_;
  std::map<WindowId, std::unique_ptr<WindowData>> windows_;
  std::map<std::pair<int, bool>, void*> icons_;
};

}  // namespace vesk::win32
