// The journal: entries, the in-memory container and the file.
#include "storage/journal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/regular_file.h"

namespace vesk {

void Journal::Append(const JournalEntry& entry) {
  if (size_ == blocks_.size() * kBlock) {
    blocks_.push_back(std::make_unique<std::array<JournalEntry, kBlock>>());
  }
  (*blocks_[size_ / kBlock])[size_ % kBlock] = entry;
  ++size_;
}

void Journal::RemoveAll() {
  blocks_.clear();
  size_ = 0;
}

std::int32_t Journal::Count() const {
  // The count is a signed 32-bit number; a journal that large cannot be
  // recorded or read in practice, but never let it turn negative.
  return size_ > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(size_);
}

JournalEntry& Journal::GetNext(Position& pos) {
  JournalEntry& e = At(pos);
  pos = pos + 1 < size_ ? pos + 1 : npos;
  return e;
}

JournalEntry& Journal::At(std::size_t index) { return (*blocks_[index / kBlock])[index % kBlock]; }

const JournalEntry& Journal::At(std::size_t index) const {
  return (*blocks_[index / kBlock])[index % kBlock];
}

namespace {
void Put32(char* out, std::uint32_t v) {
  out[0] = static_cast<char>(v & 0xFF);
  out[1] = static_cast<char>((v >> 8) & 0xFF);
  out[2] = static_cast<char>((v >> 16) & 0xFF);
  out[3] = static_cast<char>((v >> 24) & 0xFF);
}
std::uint32_t Get32(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
         (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}
}  // namespace

void EncodeEntry(const JournalEntry& entry, char* out) {
  Put32(out, static_cast<std::uint32_t>(entry.tag));
  Put32(out + 4, entry.event.message);
  Put32(out + 8, entry.event.paramL);
  Put32(out + 12, entry.event.paramH);
  Put32(out + 16, entry.event.time);
  Put32(out + 20, entry.event.hwnd);
}

JournalEntry DecodeEntry(const unsigned char* in) {
  JournalEntry e;
  e.tag = static_cast<std::int32_t>(Get32(in));
  e.event.message = Get32(in + 4);
  e.event.paramL = Get32(in + 8);
  e.event.paramH = Get32(in + 12);
  e.event.time = Get32(in + 16);
  e.event.hwnd = Get32(in + 20);
  return e;
}

std::string EncodeJournal(const Journal& journal) {
  std::string bytes(journal.Size() * kJournalRecordSize, '\0');
  for (std::size_t i = 0; i < journal.Size(); ++i) {
    EncodeEntry(journal.At(i), bytes.data() + i * kJournalRecordSize);
  }
  return bytes;
}

void AppendRecords(std::string_view bytes, Journal& journal) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t whole = bytes.size() / kJournalRecordSize;
  for (std::size_t i = 0; i < whole; ++i) journal.Append(DecodeEntry(p + i * kJournalRecordSize));
}

JournalRead LoadJournalFile(const std::string& path, Journal& journal,
                            const std::function<void()>& onOpened) {
  RegularFile file;
  if (!file.Open(path, RegularFile::Mode::Read)) return JournalRead::OpenFailed;
  if (file.Size() / kJournalRecordSize > kMaxJournalRecords) return JournalRead::TooLarge;
  journal.RemoveAll();
  onOpened();
  try {
    // Read in large chunks, or one for a small file; a record may straddle
    // two chunks.
    constexpr std::size_t kMinChunk = kJournalRecordSize * 16;
    constexpr std::size_t kMaxChunk = kJournalRecordSize * 8192;
    const std::size_t chunk =
        file.Size() >= kMaxChunk
            ? kMaxChunk
            : std::max(kMinChunk, (static_cast<std::size_t>(file.Size()) / kJournalRecordSize + 1) *
                                      kJournalRecordSize);
    const std::unique_ptr<char[]> buf(new char[chunk]);
    std::size_t have = 0;
    while (true) {
      const std::size_t n = file.Read(buf.get() + have, chunk - have);
      have += n;
      const std::size_t whole = have / kJournalRecordSize * kJournalRecordSize;
      // The file may grow while it is read: the limit holds all the same.
      if (journal.Size() + whole / kJournalRecordSize > kMaxJournalRecords) {
        journal.RemoveAll();
        return JournalRead::TooLarge;
      }
      AppendRecords(std::string_view(buf.get(), whole), journal);
      std::memmove(buf.get(), buf.get() + whole, have - whole);
      have -= whole;
      if (n == 0) break;
    }
  } catch (const std::bad_alloc&) {
    journal.RemoveAll();  // gives the memory back
    return JournalRead::NoMemory;
  }
  return JournalRead::Loaded;
}

std::string JournalRefusedLine(JournalRead why, const std::string& path) {
  if (why == JournalRead::TooLarge) {
    return "Could not load " + path + ": it holds more than " + std::to_string(kMaxJournalRecords) +
           " records";
  }
  return "Could not load " + path + ": not enough memory";
}

}  // namespace vesk
