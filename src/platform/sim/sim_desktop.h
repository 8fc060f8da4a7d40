// The simulated desktop: a deterministic model of the operating system that
// the behaviour tests run the whole program on. Time is a virtual
// millisecond clock that only the test advances; nothing here sleeps.
//
// The program runs on its own user-interface thread, but the two threads
// strictly take turns: a test action hands the turn to the program, which
// works until it is idle (no message, no input, no due playback request)
// and hands it back. So tests read like a user's session and never race.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_files.h"
#include "platform/winapi/hook_chain.h"
#include "platform/winapi/message_queue.h"
#include "platform/winapi/playback_driver.h"

namespace vesk::sim {

struct SimControl {
  int id = 0;
  ControlKind kind = ControlKind::PushButton;
  std::uint32_t style = 0;
  std::string text;
  bool enabled = true;
  bool checked = false;
  std::vector<std::string> lines;  // list box
  int curSel = -1;
  int low = 0, high = 100, pos = 0;  // up-down
  int buddy = 0;                     // up-down: the control it writes into
};

// Pixels per dialog unit in the model.
inline constexpr int kDialogUnitX = 2;
inline constexpr int kDialogUnitY = 2;

// What one repaint put on the screen.
struct SimPaint {
  std::uint64_t at = 0;  // virtual time
  std::string title;
  std::vector<std::string> log;
  std::uint8_t alpha = 255;
  std::uint32_t exStyle = 0;
};

struct SimWindow {
  WindowId id = 0;
  const DialogTemplate* tmpl = nullptr;
  WindowId parent = 0;
  WindowSink* sink = nullptr;
  std::string title;
  std::uint32_t exStyle = 0;
  bool visible = false;
  bool iconic = false;
  std::uint8_t alpha = 255;
  std::uint32_t layeredFlags = 0;
  std::uint32_t colorKey = 0;
  int layeredCalls = 0;
  int repaints = 0;
  std::string titleAtLastRepaint;
  std::vector<SimPaint> paints;
  // Screen rectangle; a window disabled while a modal window it owns runs
  // takes no clicks and no keys.
  int left = 0, top = 0, width = 0, height = 0;
  bool disabled = false;
  int bigIcon = 0, smallIcon = 0;
  int iconX = -1, iconY = -1;  // where the minimised icon was painted
  std::vector<SimControl> controls;
  bool modalRunning = false;
  bool modalEnded = false;
  int modalResult = 0;

  SimControl* Find(int id);
  bool Contains(int x, int y) const {
    return x >= left && x < left + width && y >= top && y < top + height;
  }
  // The screen rectangle of a control (left, top, right, bottom).
  void ControlRect(const SimControl& c, int* r) const;
  SimControl* ControlAt(int x, int y);
};

struct MessageBoxCall {
  WindowId owner;
  std::string text;
  std::string caption;
  std::uint32_t style;
};

// An event the simulated system processed during playback, with the
// virtual time at which it did so.
struct ProcessedEvent {
  EVENTMSG event;
  std::uint64_t at;
};

// Input that reached the desktop from the program, in order: entries the
// playback hook handed over and the system processed, and input the
// program sent at once.
struct InjectedEvent {
  EVENTMSG event;
  std::uint64_t at;
  bool sentAtOnce;
};

class SimDesktop : public Backend, public Diagnostics, private winapi::PlaybackDriver::Host {
 public:
  SimDesktop();
  ~SimDesktop() override;

  // ---------------- test side ----------------
  // Runs program on the user-interface thread until it is idle or done.
  void Start(std::function<void()> program);
  bool Finished();
  // Runs fn on the user-interface thread, then until it is idle again.
  void Do(std::function<void()> fn);
  // Lets the program run its posted work (a no-op turn).
  void Settle() {
    Do([] {});
  }

  // User actions on windows, as a mouse and a keyboard can do them: a click
  // aims at the middle of the control and lands on the topmost window under
  // the pointer that takes input (through click-through windows, nowhere
  // on a disabled window); where no window is, it is mouse input on the
  // desktop. Disabled controls ignore clicks.
  void Click(WindowId window, int controlId);
  void ClickAt(int x, int y);
  void TypeText(WindowId window, int controlId, const std::string& text);
  void SpinUp(WindowId window, int controlId) { Spin(window, controlId, +1); }
  void SpinDown(WindowId window, int controlId) { Spin(window, controlId, -1); }
  // Keys go to the window that has the focus: the newest modal window, or
  // the one clicked last; none after a click on the desktop.
  void PressEscape();
  void PressEnter();
  WindowId Focus() const { return focus_; }
  void CloseBox(WindowId window);
  void Minimise(WindowId window);

  // Input queue. Time stamps are the virtual clock at the moment of input.
  void MouseMove(int x, int y);
  void MouseButton(std::uint32_t message, int x, int y);
  void Wheel(int x, int y, int delta);
  void KeyDown(std::uint32_t vk, std::uint32_t scan, bool extended = false, bool sys = false);
  void KeyUp(std::uint32_t vk, std::uint32_t scan, bool extended = false, bool sys = false);
  void Input(const EVENTMSG& event, std::uint32_t vk = 0, std::uint32_t scan = 0);
  void CtrlBreak();  // Ctrl down, Break down, Break up, Ctrl up
  // Ctrl+Break that arrives when the virtual clock reaches at, after the
  // playback request due at that moment was served (so it can race the
  // messages that request posted).
  void CtrlBreakAt(std::uint64_t at);
  void CtrlEsc();  // the system cancels the journal hooks
  // Advances the virtual clock, serving due playback requests on the way.
  void Advance(std::uint32_t milliseconds);
  // As Windows may: the next times the playback hook returns a wait longer
  // than afterMs, the system asks for the same event again after afterMs.
  void AskAgainEarly(std::uint32_t afterMs, int times = 1);
  // SendInput injects at most this many events of each call (-1: all), as
  // when the system refuses input to an elevated window.
  void LimitSendInput(int accepted) { sendLimit_ = accepted; }
  // What the system tells about itself (see Backend).
  void SetStartupNotes(std::vector<std::string> notes) { startupNotes_ = std::move(notes); }
  void SetInputPathNote(std::string note) { inputPathNote_ = std::move(note); }
  // The system cancels the journal hooks and can say why.
  void CancelJournal(std::string reason);

  // Scripted answers.
  void AnswerFileDialog(std::optional<std::string> path) {
    fileAnswers_.push_back(std::move(path));
  }
  void AnswerMessageBox(int answer) { boxAnswers_.push_back(answer); }
  void FailLibrary(bool fail) { failLibrary_ = fail; }
  void FailFunction(bool fail) { failFunction_ = fail; }
  void FailHook(int kind, bool fail);
  void FailMutexCreation(bool fail) { failMutex_ = fail; }
  // Another process holds the named mutex: waits time out.
  void HoldMutexElsewhere(const std::string& name, bool held);
  // The process that held the named mutex died holding it: the next wait
  // answers WAIT_ABANDONED, and the waiter owns it.
  void AbandonMutex(const std::string& name);
  // The next file dialog stays open, as the user browses, until
  // CloseFileDialog answers it; input keeps arriving and the program's
  // hooks keep running meanwhile, as in the real dialog's message loop.
  void KeepNextFileDialogOpen() { keepFileDialogOpen_ = true; }
  bool FileDialogOpen() const { return fileDialogOpen_; }
  void CloseFileDialog(std::optional<std::string> path);

  // Reading back (while the program is idle).
  std::uint64_t Now() const { return now_; }
  void SetNow(std::uint64_t now) { now_ = now; }
  SimWindow* Window(WindowId id);
  // The newest window built from that template (a closed one when none is
  // open), or 0.
  WindowId FindWindow(int templateId);
  // The log of a window, also after it was destroyed.
  std::vector<std::string> LogLines(WindowId window);
  bool HookInstalled(int kind) const;
  int HookInstallCount(int kind) const;
  int HookRemoveCount() const { return removeCalls_; }
  const std::vector<FileDialogRequest>& FileDialogs() const { return fileDialogs_; }
  const std::vector<MessageBoxCall>& MessageBoxes() const { return boxes_; }
  const std::vector<ProcessedEvent>& Processed() const { return processed_; }
  const std::vector<InjectedEvent>& Injected() const { return injected_; }
  // Keys (virtual-key codes) and buttons (their down message) that the
  // injected input leaves held down, in the order they went down.
  std::vector<std::uint32_t> HeldKeys() const;
  // The down messages of the buttons held; a side button's carries the
  // button in the upper half (WM_XBUTTONDOWN | XBUTTON2 << 16).
  std::vector<std::uint32_t> HeldButtons() const;
  // Input that got past the hooks and reached the windows.
  const std::vector<EVENTMSG>& Delivered() const { return delivered_; }
  int MutexWaits() const { return mutexWaits_; }
  // How often this process holds the named mutex right now.
  int MutexOwnCount(const std::string& name) const;
  // Repaints ("paint <title>") and hook installations ("hook <kind>") in the
  // order they happened.
  const std::vector<std::string>& Trace() const { return trace_; }
  std::uint32_t LastWaitTimeout() const { return lastWaitTimeout_; }
  // Things the program did that the test did not script (an unexpected
  // dialog, say); a test can assert this stays empty.
  const std::vector<std::string>& Surprises() const { return surprises_; }
  // Lines the program gave as notices (Diagnostics::Notice), in order.
  const std::vector<std::string>& Notices() const { return notices_; }
  // Numbers of the messages handed to the get-message hook, in order.
  const std::vector<std::uint32_t>& RetrievedMessages() const { return retrieved_; }

  // ---------------- Backend ----------------
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
  std::vector<std::string> StartupNotes() override { return startupNotes_; }
  std::string InputPathNote(bool) override { return inputPathNote_; }
  std::string TakeCancelReason() override { return std::exchange(cancelReason_, {}); }
  void ProgramEnded() override {}  // nothing outlives the program here
  void Notice(const std::string& line) override { notices_.push_back(line); }
  Diagnostics& Notes() override { return *this; }
  StateFiles& Files() override { return files; }
  std::uint32_t GetTickCount() override;
  std::uint64_t GetMicroseconds() override { return now_ * 1000u; }
  void Sleep(std::uint32_t milliseconds) override;
  MutexHandle CreateMutex(const std::string& name) override;
  std::uint32_t WaitForSingleObject(MutexHandle mutex, std::uint32_t milliseconds) override;
  bool ReleaseMutex(MutexHandle mutex) override;
  void CloseHandle(MutexHandle mutex) override;

  int FreeLibraryCalls() const { return freeLibraryCalls_; }

  // The state folder and its switches (see SimStateFiles).
  SimStateFiles files;
  int LoadedModules() const { return loadedModules_; }

 private:
  using Hook = winapi::HookChain::Hook;
  struct PendingInput {
    EVENTMSG event;
    std::uint32_t vk;
    std::uint32_t scan;
    std::uint32_t llFlags;
  };
  struct NamedMutex {
    std::string name;
    int ownCount = 0;
    bool heldElsewhere = false;
    bool abandoned = false;
  };

  static int SimSetLayeredWindowAttributes(WindowId window, std::uint32_t colorKey,
                                           std::uint8_t alpha, std::uint32_t flags);

  bool ProcessOne();  // on the UI thread: does one piece of work, false if idle
  void Park();        // on the UI thread: hands the turn back to the test
  bool PassesLowLevelHooks(const PendingInput& in);
  void Deliver(const PendingInput& in);
  // The playback driver's host: the virtual clock, processing as recorded
  // here, the early asks.
  HookHandle PlaybackHook() override;
  LResult CallPlaybackHook(int code, EVENTMSG* event) override;
  std::uint64_t NowNs() override { return now_ * 1'000'000u; }
  void WakeAt(std::uint64_t) override {}  // the turn loop asks when the clock gets there
  bool Process(const EVENTMSG& event) override;
  std::uint64_t AskAgainAfterMs(std::uint64_t waitMs) override;
  bool QueueDueInput();
  Hook* FirstHook(int kind);
  void Notify(SimWindow& w, int controlId, std::uint32_t code);
  void ClickControl(SimWindow& w, SimControl& c);
  SimWindow* WindowAt(int x, int y);
  void DesktopClick(int x, int y);
  void Place(SimWindow& w);
  void Spin(WindowId window, int controlId, int delta);
  void Surprise(const std::string& what) { surprises_.push_back(what); }

  // Turn-taking between the test thread and the program's thread.
  std::mutex m_;
  std::condition_variable cv_;
  bool uiTurn_ = false;
  bool running_ = false;
  bool finished_ = false;
  bool abort_ = false;
  std::thread ui_;
  std::thread::id uiId_;
  std::deque<std::function<void()>> work_;

  std::uint64_t now_ = 5'000'000;
  std::uint64_t timeTarget_ = 0;

  std::map<WindowId, std::unique_ptr<SimWindow>> windows_;
  std::map<WindowId, std::unique_ptr<SimWindow>> closed_;
  std::vector<WindowId> zOrder_;  // shown windows, front last
  WindowId focus_ = 0;
  WindowId nextWindow_ = 0x1000;
  winapi::MessageQueue posted_;
  std::deque<PendingInput> input_;
  std::deque<PendingInput> heldBack_;
  winapi::HookChain hooks_{0x5000};
  std::map<int, int> hookInstalls_;
  int removeCalls_ = 0;
  std::vector<int> failingHooks_;
  // One request at a time: the turn loop serves input and messages between.
  winapi::PlaybackDriver playback_{*this, 1};
  std::vector<ProcessedEvent> processed_;
  std::vector<InjectedEvent> injected_;
  std::deque<std::uint32_t> earlyAsks_;
  int sendLimit_ = -1;
  std::multimap<std::uint64_t, PendingInput> scheduled_;
  std::vector<std::string> startupNotes_;
  std::string inputPathNote_;
  std::string cancelReason_;
  std::vector<EVENTMSG> delivered_;
  std::vector<std::uint32_t> retrieved_;

  std::deque<std::optional<std::string>> fileAnswers_;
  std::vector<FileDialogRequest> fileDialogs_;
  bool keepFileDialogOpen_ = false;
  bool fileDialogOpen_ = false;
  std::optional<std::string> openDialogAnswer_;
  std::deque<int> boxAnswers_;
  std::vector<MessageBoxCall> boxes_;
  bool failLibrary_ = false;
  bool failFunction_ = false;
  int loadedModules_ = 0;
  int freeLibraryCalls_ = 0;
  bool failMutex_ = false;
  std::vector<NamedMutex> mutexes_;
  int mutexWaits_ = 0;
  std::uint32_t lastWaitTimeout_ = 0;
  std::vector<std::string> surprises_;
  std::vector<std::string> notices_;
  std::vector<std::string> trace_;
};

}  // namespace vesk::sim
