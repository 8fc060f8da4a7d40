// The dialog framework: a dialog class bound to a template number, an
// initialisation step, a static message table and nested modal runs.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/platform.h"

namespace vesk {

class Dialog;

using MessageHandler = LResult (*)(Dialog& self, WParam wParam, LParam lParam);

struct MessageMapEntry {
  enum class Kind { Command, Registered, Message };
  Kind kind;
  int controlId;                           // Command
  std::uint32_t value;                     // notification (Command) or message (Message)
  const std::uint32_t* registeredMessage;  // Registered: where the identifier is held
  MessageHandler handler;
};

struct MessageMap {
  const MessageMap* base;
  std::span<const MessageMapEntry> entries;
};

// Adapters that turn member operations into table handlers.
template <class D, void (D::*M)()>
LResult CallVoid(Dialog& self, WParam, LParam) {
  (static_cast<D&>(self).*M)();
  return 0;
}
template <class D, LResult (D::*M)(WParam, LParam)>
LResult CallMessage(Dialog& self, WParam wParam, LParam lParam) {
  return (static_cast<D&>(self).*M)(wParam, lParam);
}

constexpr MessageMapEntry OnCommand(int controlId, std::uint32_t notify, MessageHandler h) {
  return {MessageMapEntry::Kind::Command, controlId, notify, nullptr, h};
}
constexpr MessageMapEntry OnRegistered(const std::uint32_t* message, MessageHandler h) {
  return {MessageMapEntry::Kind::Registered, 0, 0, message, h};
}
constexpr MessageMapEntry OnMessage(std::uint32_t message, MessageHandler h) {
  return {MessageMapEntry::Kind::Message, 0, message, nullptr, h};
}

// A control of a dialog, reached by identifier.
class Control {
 public:
  Control() = default;
  Control(WindowId window, int id) : window_(window), id_(id) {}

  bool IsValid() const { return window_ != 0; }
  int Id() const { return id_; }

  void Enable(bool enable) const;
  bool IsEnabled() const;
  void SetText(const std::string& text) const;
  std::string GetText() const;
  // Buttons, check box, radio buttons.
  void SetCheck(bool checked) const;
  bool GetCheck() const;
  // List box.
  int AddString(const std::string& text) const;
  int GetCount() const;
  void DeleteFirst(int count) const;
  void SetCurSel(int index) const;
  int GetCurSel() const;
  std::string GetLine(int index) const;
  // Up-down.
  void SetRange32(int low, int high) const;
  void SetPos32(int pos) const;
  int GetPos32() const;

 private:
  WindowId window_ = 0;
  int id_ = 0;
};

class Dialog : public WindowSink {
 public:
  Dialog(int templateId, Dialog* parent);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the window, runs the initialisation step, then the modal run;
  // returns the code given to EndDialog (-1 if the window cannot be made).
  int DoModal();
  void EndDialog(int result);
  // Modeless use: creates the window and runs the initialisation step; the
  // caller's own loop (or none) serves it. DestroyWindow undoes it.
  bool Create();
  void DestroyWindow();

  WindowId GetSafeHwnd() const { return window_; }
  int TemplateId() const { return templateId_; }
  Control GetDlgItem(int id) const;

  void SetWindowText(const std::string& text) const;
  std::string GetWindowText() const;
  void PostMessage(std::uint32_t message, WParam wParam, LParam lParam) const;
  void UpdateWindow() const;
  void SetIcon(int iconResource, bool big) const;

  LResult HandleMessage(std::uint32_t message, WParam wParam, LParam lParam) override;

 protected:
  virtual bool OnInitDialog() { return true; }
  virtual const MessageMap* GetMessageMap() const;
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Called when the window is about to be destroyed.
  virtual void OnDestroy() {}

 private:
  int templateId_;
  Dialog* parent_;
  WindowId window_ = 0;
};

}  // namespace vesk
