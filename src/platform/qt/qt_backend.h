// The Linux backend: windows with Qt 6 Widgets, composed with an input
// path. A QApplication must exist before it is constructed.
#pragma once

#include <memory>

#include "platform/input_path.h"
#include "platform/platform.h"
#include "platform/qt/linux_input.h"

class QWidget;

namespace vesk::x11 {
class X11Input;
}  // namespace vesk::x11

namespace vesk::qt {

using x11::X11Input;

class QtBackend : public Backend, public Diagnostics {
 public:
  // With the input path this session gets (ChooseLinuxInput).
  QtBackend();
  explicit QtBackend(LinuxInput input);
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

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
  std::vector<std::string> StartupNotes() override;
  std::string InputPathNote(bool playback) override;
  std::string TakeCancelReason() override;
  void Notice(const std::string& line) override;
  std::uint32_t GetTickCount() override;
  std::uint64_t GetMicroseconds() override;
  void Sleep(std::uint32_t milliseconds) override;
  MutexHandle CreateMutex(const std::string& name) override;
  std::uint32_t WaitForSingleObject(MutexHandle mutex, std::uint32_t milliseconds) override;
  bool ReleaseMutex(MutexHandle mutex) override;
  void CloseHandle(MutexHandle mutex) override;
  void ProgramEnded() override;
  Diagnostics& Notes() override { return *this; }
  StateFiles& Files() override { return NativeStateFiles(); }

  // For tests and tools: the widget of a window or of one of its controls.
  QWidget* WindowWidget(WindowId window);
  QWidget* ControlWidget(WindowId window, int id);
  // The X server's input under the path (capture and the key grab).
  X11Input& Input();
  // Replays (playback and input sent at once) through another injector from
  // now on; null goes back to the path's own. The injector must outlive its
  // use.
  void UseInjector(Injector* injector);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace vesk::qt
