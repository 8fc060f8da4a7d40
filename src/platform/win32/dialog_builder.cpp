// Dialog templates turned into in-memory Win32 dialog templates.
#include "platform/win32/dialog_builder.h"

#include <string>

namespace vesk::win32 {

namespace {

class Writer {
 public:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Short(int v) { Word(static_cast<WORD>(static_cast<short>(v))); }
  void Text(const char* text) {
    const std::string s = text != nullptr ? text : "";
    if (!s.empty()) {
      const int n =
          MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
      std::wstring w(static_cast<std::size_t>(n), L'\0');
      MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
      for (wchar_t c : w) Word(static_cast<WORD>(c));
    }
    Word(0);
  }
  void WideText(const wchar_t* text) {
    for (; *text != L'\0'; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  void AlignDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  std::vector<WORD> Take() { return std::move(words_); }

 private:
  std::vector<WORD> words_;
};

// Predefined classes by atom, as resource templates store them.
WORD ClassAtom(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox:
      return 0x0080;
    case ControlKind::Edit:
      return 0x0081;
    case ControlKind::StaticText:
      return 0x0082;
    case ControlKind::ListBox:
      return 0x0083;
    case ControlKind::UpDown:
      return 0;
  }
  return 0;
}

}  // namespace

const wchar_t* ControlClassName(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox:
      return L"Button";
    case ControlKind::Edit:
      return L"Edit";
    case ControlKind::StaticText:
      return L"Static";
    case ControlKind::ListBox:
      return L"ListBox";
    case ControlKind::UpDown:
      return UPDOWN_CLASSW;
  }
  return L"Static";
}

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& tmpl) {
  Writer w;
  const DWORD style = (tmpl.style & ~static_cast<DWORD>(WS_VISIBLE)) | DS_SETFONT;
  DWORD exStyle = 0;
  if ((tmpl.style & DS_SYSMODAL) != 0) exStyle |= WS_EX_TOPMOST;
  w.Dword(style);
  w.Dword(exStyle);
  w.Word(static_cast<WORD>(tmpl.controls.size()));
  w.Short(tmpl.x);
  w.Short(tmpl.y);
  w.Short(tmpl.cx);
  w.Short(tmpl.cy);
  w.Word(0);  // no menu
  w.Word(0);  // the dialog class
  w.Text(tmpl.caption);
  w.Word(static_cast<WORD>(tmpl.fontPoints));
  w.Text(tmpl.fontName);
  for (const ControlTemplate& c : tmpl.controls) {
    w.AlignDword();
    w.Dword(c.style);
    w.Dword(c.exStyle);
    w.Short(c.x);
    w.Short(c.y);
    w.Short(c.cx);
    w.Short(c.cy);
    w.Word(static_cast<WORD>(c.id));  // -1 becomes 0xFFFF, the "no identifier" value
    if (const WORD atom = ClassAtom(c.kind); atom != 0) {
      w.Word(0xFFFF);
      w.Word(atom);
    } else {
      w.WideText(ControlClassName(c.kind));
    }
    w.Text(c.text);
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace vesk::win32
