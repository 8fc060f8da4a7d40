// The journal reader from any bytes, both as bytes in memory and as a file
// read through the same path a load takes: every whole record is kept, the
// tail is dropped, and the records write back to the same bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/journal.h"

namespace {

// Written and removed again for every input: the fuzzer may end the
// process without running exit handlers.
const std::string& ScratchFile() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/vesk-fuzz-journal-" +
           std::to_string(getpid()) + ".alg";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t whole = size / vesk::kJournalRecordSize * vesk::kJournalRecordSize;

  vesk::Journal memory;
  vesk::AppendRecords(bytes, memory);
  if (memory.Size() * vesk::kJournalRecordSize != whole) __builtin_trap();
  if (vesk::EncodeJournal(memory) != bytes.substr(0, whole)) __builtin_trap();

  std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) return 0;
  vesk::Journal loaded;
  loaded.Append({});  // a load replaces what was there
  bool opened = false;
  const bool read = vesk::ReadJournalFile(ScratchFile(), loaded, [&] { opened = true; });
  std::remove(ScratchFile().c_str());
  if (!read) __builtin_trap();
  if (!opened || loaded.Size() != memory.Size()) __builtin_trap();
  for (std::size_t i = 0; i < loaded.Size(); ++i) {
    if (!(loaded.At(i) == memory.At(i))) __builtin_trap();
  }
  return 0;
}
