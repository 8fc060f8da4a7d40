// Paths between the program and Windows. The program keeps paths as bytes
// in the active code page, which the manifest makes UTF-8 (Windows 10 1903
// and later), as on Linux; the file calls take them as UTF-16 with the
// long-path prefix, so any name and length Windows accepts works. Where
// the code page is not UTF-8, a path it cannot hold is refused, never
// stored damaged.
#pragma once

#include <optional>
#include <string>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

// Text in the code page as UTF-16, as it is; nothing when it is not valid.
std::optional<std::wstring> WideText(const std::string& text, UINT codePage = CP_ACP);

// The program's bytes as UTF-16 for the file calls; nothing when they are
// not valid in the code page. Absolute paths get the \\?\ prefix (after
// the system resolved "." and ".." and the slashes), so MAX_PATH never
// applies.
std::optional<std::wstring> WidePath(const std::string& path, UINT codePage = CP_ACP);

// A name from the system (a dialog, the working folder) as the program's
// bytes; nothing when the code page has no character for part of it.
std::optional<std::string> NarrowPath(const std::wstring& path, UINT codePage = CP_ACP);

// The line that says why a chosen path cannot be used.
std::string PathRefusedNote(const std::wstring& path);

}  // namespace vesk::win32
