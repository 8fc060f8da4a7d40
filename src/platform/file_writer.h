// Writing a whole file so that a failure never destroys what was there.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vesk {

enum class WriteOutcome {
  Written,     // every byte is in the file
  OpenFailed,  // the file could not be created, or may not be replaced; nothing changed
  WriteFailed  // writing failed after the open (a full disk); nothing changed
};

// Writes bytes to a new temporary file beside path and renames it over path
// only once every byte was written and the file closed. The temporary file
// has a short random name (".vesk-" and six characters), so a name at the
// file system's limit still works, and it is created exclusively, never
// through a link: nothing someone else put in the folder is followed or
// reused. A target that is a folder, not an ordinary file, or read-only is
// refused (OpenFailed) and left as it was. ownerOnly creates the file
// readable and writable by its owner alone (where the system has such
// permissions): journals and scripts hold typed text. On Windows a new file
// gets the owner, SYSTEM and Administrators (see win32/file_security.h), an
// existing one keeps its attributes, access list and streams, and a target
// another program holds is waited for some seconds; waiting is called once
// when that wait begins (the caller says so in its log).
WriteOutcome WriteFileReplacing(const std::string& path, std::string_view bytes, bool ownerOnly,
                                const std::function<void()>& waiting = {});

// Tests decide the temporary names (the next name each call); an empty
// function restores the random ones.
void SetTempNameSourceForTesting(std::function<std::string()> next);

}  // namespace vesk
