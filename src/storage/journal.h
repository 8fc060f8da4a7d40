// Recorded input events: the journal entry, the in-memory journal and the
// journal file (24-byte little-endian records, no header).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace vesk {

struct JournalEntry {
  std::int32_t tag = 1;
  EVENTMSG event;
};

inline bool operator==(const JournalEntry& a, const JournalEntry& b) {
  return a.tag == b.tag && a.event == b.event;
}

inline constexpr std::size_t kJournalRecordSize = 24;

// Ordered entries stored in fixed blocks, so that a position and a
// reference to an entry stay valid while entries are appended.
class Journal {
 public:
  using Position = std::size_t;
  static constexpr Position npos = static_cast<Position>(-1);

  void Append(const JournalEntry& entry);
  void RemoveAll();
  std::int32_t Count() const;
  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }

  // Position of the first entry, or npos when empty.
  Position HeadPosition() const { return size_ == 0 ? npos : 0; }
  // The first entry, or null when empty.
  JournalEntry* Head() { return size_ == 0 ? nullptr : &At(0); }
  // The entry at pos; pos moves to the next one (npos after the last).
  JournalEntry& GetNext(Position& pos);

  JournalEntry& At(std::size_t index);
  const JournalEntry& At(std::size_t index) const;

 private:
  static constexpr std::size_t kBlock = 4096;
  std::vector<std::unique_ptr<std::array<JournalEntry, kBlock>>> blocks_;
  std::size_t size_ = 0;
};

// The file form of a journal.
std::string EncodeJournal(const Journal& journal);
void EncodeEntry(const JournalEntry& entry, char* out);
JournalEntry DecodeEntry(const unsigned char* in);
// Appends every whole 24-byte record of bytes; a shorter tail is dropped.
void AppendRecords(std::string_view bytes, Journal& journal);

// The most records a journal can hold: its count is a signed 32-bit number.
inline constexpr std::size_t kMaxJournalRecords = 0x7FFFFFFF;

enum class JournalRead {
  Loaded,
  OpenFailed,  // missing, unreadable, or not an ordinary file; journal untouched
  TooLarge,    // more than kMaxJournalRecords records; journal untouched
  NoMemory     // memory ran out while reading; journal left empty
};

// The reading rule shared by every journal load: the journal changes only
// once the file has opened and its size is acceptable; then the journal is
// emptied, onOpened runs, and every whole record is appended; a shorter
// tail is dropped. Only ordinary files are read (a device or pipe would
// never end).
JournalRead LoadJournalFile(const std::string& path, Journal& journal,
                            const std::function<void()>& onOpened);
inline bool ReadJournalFile(const std::string& path, Journal& journal,
                            const std::function<void()>& onOpened) {
  return LoadJournalFile(path, journal, onOpened) == JournalRead::Loaded;
}

// The log line for a journal that opened but was refused (TooLarge, NoMemory).
std::string JournalRefusedLine(JournalRead why, const std::string& path);

}  // namespace vesk
