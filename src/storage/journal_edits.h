// The edits people ask of a recording: scale or cap its delays, drop the
// idle time before the first input, drop pointer moves that lead nowhere.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "storage/journal.h"

namespace vesk {

struct JournalEdits {
  std::optional<double> scaleDelays;      // every delay times this (>= 0)
  std::optional<std::uint32_t> maxDelay;  // longer delays shortened to this (ms)
  bool trim = false;                      // the first event's delay set to 0
  bool dropMoves = false;                 // moves that end nowhere removed
  bool Any() const { return scaleDelays || maxDelay || trim || dropMoves; }
};

// Applies the edits in the order drop-moves, trim, scale, cap. Only records
// with tag 1 (the ones Play plays) are changed or removed; a delay no
// recording can produce (above 0x7FFFFFFF) counts as the 0 it plays as.
std::vector<JournalEntry> ApplyEdits(const JournalEdits& edits, std::vector<JournalEntry> entries);

}  // namespace vesk
