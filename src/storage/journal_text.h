// The text form of a journal: one event per line, made to be read and
// edited by people, converting to and from the binary form without losing a
// bit of any record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "storage/journal.h"

namespace vesk {

// The first line of every text journal.
inline constexpr const char* kTextJournalMagic = "vesk-journal";
inline constexpr int kTextJournalVersion = 1;

// What a journal holds, as the header comment and `check` tell it.
struct JournalStats {
  std::size_t records = 0;
  std::size_t toPlay = 0;        // records with tag 1
  std::uint64_t playMillis = 0;  // one pass at recorded speed
  std::size_t moves = 0, clicks = 0, keys = 0, wheel = 0, side = 0, unknown = 0;
  bool hasPosition = false;
  std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
  std::size_t otherTags = 0;         // records whose tag is not 1
  std::size_t impossibleDelays = 0;  // above 0x7FFFFFFF: played as 0
  std::size_t unreplayable = 0;      // messages no backend replays
};
JournalStats Summarise(const std::vector<JournalEntry>& entries);
// "1 key", "2 keys": a count with its noun in the right number.
std::string Count(std::uint64_t n, std::string_view one, std::string_view many);

// The delay a record plays with at recorded speed, in milliseconds.
inline std::uint32_t PlayedDelay(std::uint32_t stored) { return stored > 0x7FFFFFFFu ? 0 : stored; }

std::string JournalToText(const std::vector<JournalEntry>& entries);

// Reads a text journal. On an error nothing is appended to out and error
// says where ("line 3, column 9: ...") and what was expected.
bool JournalFromText(std::string_view text, std::vector<JournalEntry>& out, std::string& error);

// Conversions to and from the in-memory journal.
std::vector<JournalEntry> EntriesOf(const Journal& journal);
void Assign(Journal& journal, const std::vector<JournalEntry>& entries);
std::string EncodeEntries(const std::vector<JournalEntry>& entries);

}  // namespace vesk
