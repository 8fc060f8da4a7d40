// Conversions between the program's path bytes and the UTF-16 of the file calls.
#include "platform/win32/paths.h"

#include <cstdio>

namespace vesk::win32 {

namespace {

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::optional<std::wstring> WideText(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
  return wide;
}

std::optional<std::wstring> WidePath(const std::string& path, UINT codePage) {
  if (path.empty()) return std::wstring();
  std::optional<std::wstring> converted = WideText(path, codePage);
  if (!converted || converted->find(L'\0') != std::wstring::npos) return std::nullopt;
  std::wstring wide = std::move(*converted);
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;  // already literal
  const bool drive = wide.size() >= 3 && wide[1] == L':' && IsSlash(wide[2]);
  const bool unc = wide.size() >= 2 && IsSlash(wide[0]) && IsSlash(wide[1]);
  if (!drive && !unc) return wide;  // relative: the system resolves it as given
  const DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (need == 0) return wide;
  std::wstring full(need, L'\0');
  const DWORD got = ::GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
  if (got == 0 || got >= need) return wide;
  full.resize(got);
  if (full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\') {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

std::optional<std::string> NarrowPath(const std::wstring& path, UINT codePage) {
  if (path.empty()) return std::string();
  const int size = static_cast<int>(path.size());
  const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && ::GetACP() == CP_UTF8);
  BOOL substituted = FALSE;
  // UTF-8 holds every character and takes no substitution flag.
  BOOL* lost = utf8 ? nullptr : &substituted;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int n =
      ::WideCharToMultiByte(codePage, flags, path.data(), size, nullptr, 0, nullptr, lost);
  if (n <= 0 || substituted) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, flags, path.data(), size, narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::string PathRefusedNote(const std::wstring& path) {
  const std::optional<std::string> shown = NarrowPath(path, CP_UTF8);
  char codePage[16];
  std::snprintf(codePage, sizeof(codePage), "%u", ::GetACP());
  return "Cannot use " + shown.value_or("the path chosen") +
         ": this Windows keeps file names in code page " + codePage +
         ", which has no letter for part of it. Choose a folder with another name, or use Windows "
         "10 "
         "version 1903 or later.";
}

}  // namespace vesk::win32
