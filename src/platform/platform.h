// The services the program asks of the operating system. The core reaches
// them only through Sys(); each executable installs exactly one backend.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/state_files.h"
#include "platform/types.h"
#include "resources/dialog_templates.h"

namespace vesk {

// Receives the messages of one window: control notifications arrive as
// WM_COMMAND, registered and posted messages with their own numbers,
// WM_CLOSE for the close box, WM_PAINT when the window needs painting.
class WindowSink {
 public:
  virtual LResult HandleMessage(std::uint32_t message, WParam wParam, LParam lParam) = 0;

 protected:
  ~WindowSink() = default;
};

// Settings of one common Open or Save dialog.
struct FileDialogRequest {
  bool save = false;
  std::string title;
  std::string initialName;       // may be empty
  std::string defaultExtension;  // without the dot
  std::string filterDescription;
  std::string filterPattern;
  std::uint32_t flags = 0;  // OFN_* bits
};

using SetLayeredWindowAttributesFn = int (*)(WindowId window, std::uint32_t colorKey,
                                             std::uint8_t alpha, std::uint32_t flags);
using ProcAddress = void (*)();

class Backend {
 public:
  virtual ~Backend() = default;

  // --- Windows built from dialog templates ---
  // Creates the window and all its controls, hidden; messages go to sink.
  virtual WindowId CreateDialogWindow(const DialogTemplate& tmpl, WindowId parent,
                                      WindowSink* sink) = 0;
  virtual void DestroyWindow(WindowId window) = 0;
  // Shows the window if its template says visible, then dispatches messages
  // (of every window) until EndModalLoop is called for it. Runs nest.
  virtual int RunModalLoop(WindowId window) = 0;
  virtual void EndModalLoop(WindowId window, int result) = 0;

  virtual void SetWindowText(WindowId window, const std::string& text) = 0;
  virtual std::string GetWindowText(WindowId window) = 0;
  virtual std::uint32_t GetWindowLong(WindowId window, int index) = 0;
  // Returns the previous value.
  virtual std::uint32_t SetWindowLong(WindowId window, int index, std::uint32_t value) = 0;
  // Carries out pending paint work now.
  virtual void UpdateWindow(WindowId window) = 0;
  virtual void SetIcon(WindowId window, int iconResource, bool big) = 0;
  virtual bool IsIconic(WindowId window) = 0;
  // Paints the icon at (x, y) of the client area of a minimised window.
  virtual void PaintIconic(WindowId window, int iconResource, int x, int y) = 0;
  virtual void GetClientSize(WindowId window, int* width, int* height) = 0;
  virtual int GetSystemMetrics(int index) = 0;

  // --- Controls, reached by window and identifier ---
  virtual bool HasControl(WindowId window, int id) = 0;
  virtual void EnableControl(WindowId window, int id, bool enable) = 0;
  virtual bool IsControlEnabled(WindowId window, int id) = 0;
  // Caption of a button or static, text of an edit (sends EN_CHANGE).
  virtual void SetControlText(WindowId window, int id, const std::string& text) = 0;
  virtual std::string GetControlText(WindowId window, int id) = 0;
  virtual void SetCheck(WindowId window, int id, bool checked) = 0;
  virtual bool GetCheck(WindowId window, int id) = 0;
  // Returns the index of the new line.
  virtual int ListAddString(WindowId window, int id, const std::string& text) = 0;
  virtual int ListGetCount(WindowId window, int id) = 0;
  // Removes the count oldest lines (all of them when there are fewer).
  virtual void ListDeleteFirst(WindowId window, int id, int count) = 0;
  virtual void ListSetCurSel(WindowId window, int id, int index) = 0;
  virtual int ListGetCurSel(WindowId window, int id) = 0;
  virtual std::string ListGetText(WindowId window, int id, int index) = 0;
  virtual void UpDownSetRange(WindowId window, int id, int low, int high) = 0;
  // Also writes the position into the buddy edit (which sends EN_CHANGE).
  virtual void UpDownSetPos(WindowId window, int id, int pos) = 0;
  virtual int UpDownGetPos(WindowId window, int id) = 0;

  // --- Messages ---
  virtual std::uint32_t RegisterWindowMessage(const std::string& name) = 0;
  virtual bool PostMessage(WindowId window, std::uint32_t message, WParam wParam,
                           LParam lParam) = 0;

  // --- Common dialogs ---
  // The chosen full path, or nothing when the dialog was not ended by OK.
  virtual std::optional<std::string> ShowFileDialog(WindowId owner,
                                                    const FileDialogRequest& request) = 0;
  // IDYES or IDNO.
  virtual int MessageBox(WindowId owner, const std::string& text, const std::string& caption,
                         std::uint32_t style) = 0;

  // --- Layered windows: library look-up by name ---
  virtual ModuleHandle LoadLibrary(const std::string& name) = 0;
  virtual ProcAddress GetProcAddress(ModuleHandle module, const std::string& name) = 0;
  virtual void FreeLibrary(ModuleHandle module) = 0;

  // --- Hooks; the procedures run on the user-interface thread ---
  // A handle, or 0 when the hook cannot be installed.
  virtual HookHandle SetWindowsHookEx(int kind, HookProc proc) = 0;
  // Removing a null, stale or already removed handle does nothing.
  virtual bool UnhookWindowsHookEx(HookHandle hook) = 0;
  // What the next procedure of the same kind returns, 0 when there is none.
  virtual LResult CallNextHookEx(HookHandle hook, int code, WParam wParam, LParam lParam) = 0;

  // --- Input sent at once, outside the playback hook ---
  // Injects the events now, in order. They are in the journal's vocabulary:
  // mouse messages with the screen position in paramL/paramH (the wheel's
  // amount in hwnd), key messages with scan code x 256 + virtual-key code in
  // paramL and the extended flag in bit 15 of paramH. Used to release and
  // press again what a paused playback holds down. Returns how many events
  // were injected; fewer than asked means the system refused the rest.
  virtual std::uint32_t SendInput(const std::vector<EVENTMSG>& events) = 0;

  // --- Time ---
  virtual std::uint32_t GetTickCount() = 0;
  // A monotonic clock in microseconds, for pacing playback more finely than
  // the tick count. Only differences mean anything.
  virtual std::uint64_t GetMicroseconds() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;

  // --- Named mutex shared by all running instances ---
  virtual MutexHandle CreateMutex(const std::string& name) = 0;  // 0 on failure
  virtual std::uint32_t WaitForSingleObject(MutexHandle mutex, std::uint32_t milliseconds) = 0;
  virtual bool ReleaseMutex(MutexHandle mutex) = 0;
  virtual void CloseHandle(MutexHandle mutex) = 0;

  // --- Files that outlive the program (the recovery journal) ---
  virtual StateFiles& Files() = 0;

  // --- What the system tells the user, and the program's end ---
  virtual Diagnostics& Notes() = 0;
};

// The installed backend. Installing replaces the previous one.
Backend& Sys();
void InstallBackend(Backend* backend);
bool HasBackend();

}  // namespace vesk
