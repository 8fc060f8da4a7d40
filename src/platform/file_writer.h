// Writing a whole file so that a failure never destroys what was there.
#pragma once

#include <string>
#include <string_view>

namespace vesk {

enum class WriteOutcome {
  Written,     // every byte is in the file
  OpenFailed,  // the file could not be created; nothing changed
  WriteFailed  // writing failed after the open (a full disk); nothing changed
};

// Writes bytes to a temporary file beside path and renames it over path
// only once every byte was written and the file closed. ownerOnly creates
// the file readable and writable by its owner alone (where the system
// has such permissions): journals and scripts hold typed text.
WriteOutcome WriteFileReplacing(const std::string& path, std::string_view bytes, bool ownerOnly);

}  // namespace vesk
