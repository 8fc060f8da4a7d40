// What this Windows allows: input paths, elevation and the input desktop.
#include "platform/win32/system_checks.h"

#include <cstdio>

#include <wtsapi32.h>

namespace vesk::win32 {

namespace {

template <class Fn>
Fn Lookup(const char* module, const char* name) {
  HMODULE m = ::GetModuleHandleA(module);
  if (m == nullptr) return nullptr;
  // Through void(*)(): the one function type every other converts with.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

// The integrity level in a token, or nothing when it cannot be read.
std::optional<DWORD> TokenIntegrity(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  if (size == 0 || size > 1024) return std::nullopt;
  alignas(TOKEN_MANDATORY_LABEL) unsigned char buffer[1024];
  if (!::GetTokenInformation(token, TokenIntegrityLevel, buffer, size, &size)) return std::nullopt;
  PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
  if (sid == nullptr || !::IsValidSid(sid)) return std::nullopt;
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  if (count == 0) return std::nullopt;
  return *::GetSidSubAuthority(sid, count - 1u);
}

bool TokenFlag(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const bool ok = ::GetTokenInformation(token, kind, &value, size, &size) != FALSE;
  ::CloseHandle(token);
  return ok && value != 0;
}

std::string ObjectName(HDESK desk) {
  char name[256] = {};
  DWORD needed = 0;
  if (!::GetUserObjectInformationA(desk, UOI_NAME, name, sizeof(name) - 1, &needed)) return {};
  return name;
}

}  // namespace

bool RunningOnWine() { return Lookup<void (*)()>("ntdll.dll", "wine_get_version") != nullptr; }

SystemFacts CurrentSystemFacts() {
  SystemFacts facts;
  facts.wine = RunningOnWine();
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  if (const auto getVersion = Lookup<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion")) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (getVersion(&info) == 0) {
      facts.major = info.dwMajorVersion;
      facts.build = info.dwBuildNumber;
    }
  }
  facts.elevated = TokenFlag(TokenElevation);
  facts.uiAccess = TokenFlag(TokenUIAccess);
  return facts;
}

PathChoice ChooseInputPath(JournalMode mode, const SystemFacts& facts) {
  if (mode == JournalMode::LowLevel) return {true, "Input: low-level hooks."};
  if (mode == JournalMode::System) return {false, "Input: journal hooks."};
  if (facts.wine) {
    return {true, "Input: low-level hooks (Wine never plays journal hooks back)."};
  }
  if (facts.major > 10 || (facts.major == 10 && facts.build >= 22000)) {
    return {true, "Input: low-level hooks (Windows 11 has no journal hooks)."};
  }
  if (!facts.elevated && !facts.uiAccess) {
    return {true, "Input: low-level hooks (journal hooks need administrator rights)."};
  }
  return {false, "Input: journal hooks (running as administrator)."};
}

std::string CancelReasonText(CancelCause cause) {
  switch (cause) {
    case CancelCause::CtrlEsc:
      return "Ctrl+Esc took input back.";
    case CancelCause::DesktopSwitch:
      return "The desktop changed (Ctrl+Alt+Del, a locked screen or an elevation prompt); "
             "nothing is recorded or played while it is away.";
    case CancelCause::SessionLocked:
      return "The session was locked or disconnected; nothing is recorded or played while it "
             "is away.";
    case CancelCause::HookTimeout:
      return "The input hooks answered too late and Windows may have removed them.";
    case CancelCause::ElevatedWindow:
      return "Cannot send input to an elevated window; run Vesk as administrator to automate "
             "it.";
    case CancelCause::InjectionRefused:
      return "Windows refused the input Vesk sent (another program may be blocking input).";
    case CancelCause::DesktopCannotTakeInput:
      return "The desktop cannot take input (locked, or a session without a screen); "
             "playback waits until it can.";
    case CancelCause::SystemJournal:
      return "Windows cancelled the journal hooks (Ctrl+Esc, Ctrl+Alt+Del or a locked screen).";
  }
  return {};
}

std::string InputGapNote(DWORD from, DWORD to, DWORD now) {
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  FILETIME nowFile{};
  ::SystemTimeToFileTime(&local, &nowFile);
  const auto at = [&](DWORD tick) {
    ULARGE_INTEGER t{};
    t.LowPart = nowFile.dwLowDateTime;
    t.HighPart = nowFile.dwHighDateTime;
    t.QuadPart -=
        static_cast<ULONGLONG>(now - tick) * 10'000u;  // ticks wrap: the difference does not
    const FILETIME file{t.LowPart, t.HighPart};
    SYSTEMTIME st{};
    ::FileTimeToSystemTime(&file, &st);
    char text[16];
    std::snprintf(text, sizeof(text), "%02u:%02u:%02u.%03u", st.wHour, st.wMinute, st.wSecond,
                  st.wMilliseconds);
    return std::string(text);
  };
  char span[32];
  std::snprintf(span, sizeof(span), "%.1f s", static_cast<double>(to - from) / 1000.0);
  return "Windows had dropped the input hooks; they are back. Input between " + at(from) + " and " +
         at(to) + " (" + span + ") may be missing.";
}

std::optional<CancelCause> CauseForSessionChange(WPARAM change) {
  switch (change) {
    case WTS_SESSION_LOCK:
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
    case WTS_SESSION_LOGOFF:
      return CancelCause::SessionLocked;
    default:
      return std::nullopt;
  }
}

std::optional<CancelCause> JudgeInjection(const InjectionFacts& facts) {
  if (!facts.inputDesktopOurs) return CancelCause::DesktopCannotTakeInput;
  // User interface privilege isolation drops input to the window that
  // would receive it: what is in front matters to keys only.
  const std::optional<DWORD>& target =
      facts.mouse ? facts.pointerIntegrity : facts.foregroundIntegrity;
  if (target && *target > facts.ownIntegrity) {
    return CancelCause::ElevatedWindow;
  }
  if (facts.sent < facts.asked) return CancelCause::InjectionRefused;
  return std::nullopt;
}

bool InputDesktopIsOurs() {
  HDESK input = ::OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
  if (input == nullptr) return false;  // the secure desktop refuses us
  const std::string inputName = ObjectName(input);
  ::CloseDesktop(input);
  const std::string ours = ObjectName(::GetThreadDesktop(::GetCurrentThreadId()));
  return inputName.empty() || ours.empty() || ::lstrcmpiA(inputName.c_str(), ours.c_str()) == 0;
}

DWORD OwnIntegrity() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return SECURITY_MANDATORY_MEDIUM_RID;
  }
  const std::optional<DWORD> level = TokenIntegrity(token);
  ::CloseHandle(token);
  return level.value_or(SECURITY_MANDATORY_MEDIUM_RID);
}

std::optional<DWORD> WindowIntegrity(HWND window) {
  if (window == nullptr) return std::nullopt;
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == 0) return std::nullopt;
  if (pid == ::GetCurrentProcessId()) return OwnIntegrity();
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  // A process we may not even look at runs above us.
  if (process == nullptr) {
    return ::GetLastError() == ERROR_ACCESS_DENIED
               ? std::optional<DWORD>(SECURITY_MANDATORY_HIGH_RID)
               : std::nullopt;
  }
  HANDLE token = nullptr;
  std::optional<DWORD> level;
  if (::OpenProcessToken(process, TOKEN_QUERY, &token)) {
    level = TokenIntegrity(token);
    ::CloseHandle(token);
  } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
    level = SECURITY_MANDATORY_HIGH_RID;
  }
  ::CloseHandle(process);
  return level;
}

}  // namespace vesk::win32
