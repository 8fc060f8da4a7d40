// The text journal reader from any bytes: it never crashes, and text that
// reads writes back as text that reads to the very same records (and the
// records' bytes come back through their text exactly).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/journal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<vesk::JournalEntry> first;
  std::string error;
  if (!vesk::JournalFromText(text, first, error)) {
    if (error.rfind("line ", 0) != 0) std::abort();  // every error names its line
    return 0;
  }
  const std::string bytes = vesk::EncodeEntries(first);
  std::vector<vesk::JournalEntry> second;
  if (!vesk::JournalFromText(vesk::JournalToText(first), second, error)) std::abort();
  if (vesk::EncodeEntries(second) != bytes) std::abort();
  return 0;
}
