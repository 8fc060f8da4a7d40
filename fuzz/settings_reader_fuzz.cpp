// The settings record from any bytes: never a crash, and whatever it
// accepts it writes back in a form that reads the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "storage/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vesk::VeskSettings read;
  read.defaultJournalPath = "unchanged";
  if (!read.Deserialize(bytes)) {
    // A damaged record leaves every field as it was.
    if (read.defaultJournalPath != "unchanged" || read.repeatCount != 1) __builtin_trap();
    return 0;
  }
  const std::string written = read.Serialize();
  vesk::VeskSettings again;
  if (!again.Deserialize(written)) __builtin_trap();
  if (again.repeatCount != read.repeatCount || again.playAtStartup != read.playAtStartup ||
      again.playAtRecordedSpeed != read.playAtRecordedSpeed ||
      again.defaultJournalPath != read.defaultJournalPath) {
    __builtin_trap();
  }
  return 0;
}
