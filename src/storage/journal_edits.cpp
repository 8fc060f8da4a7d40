// The journal edits (see journal_edits.h).
#include "storage/journal_edits.h"

#include <algorithm>
#include <cmath>

#include "storage/event_names.h"
#include "storage/journal_text.h"

namespace vesk {

namespace {

constexpr std::uint32_t kLongestDelay = 0x7FFFFFFF;

bool IsMove(const JournalEntry& e) { return e.tag == 1 && e.event.message == WM_MOUSEMOVE; }

// A move is kept when a button is held (part of a drag) or when it is the
// last of its run before a click, wheel turn, key or other event (the pointer
// must be there for it). The delay of every removed move goes to the next
// event kept, so everything else keeps its time.
std::vector<JournalEntry> DropMoves(const std::vector<JournalEntry>& in) {
  std::vector<JournalEntry> out;
  out.reserve(in.size());
  int buttonsHeld = 0;
  std::uint64_t carried = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    JournalEntry e = in[i];
    if (e.tag != 1) {
      out.push_back(e);
      continue;
    }
    if (IsMove(e) && buttonsHeld == 0) {
      std::size_t next = i + 1;
      while (next < in.size() && in[next].tag != 1) ++next;
      const bool endsAtSomething = next < in.size() && !IsMove(in[next]);
      if (!endsAtSomething) {
        carried += PlayedDelay(e.event.time);
        continue;
      }
    }
    if (carried != 0) {
      e.event.time = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(PlayedDelay(e.event.time) + carried, kLongestDelay));
      carried = 0;
    }
    const EventName* name = FindEventName(e.event.message);
    if (name != nullptr && (name->kind == EventKind::Click || name->kind == EventKind::Side)) {
      const bool down = e.event.message == WM_LBUTTONDOWN || e.event.message == WM_RBUTTONDOWN ||
                        e.event.message == WM_MBUTTONDOWN || e.event.message == WM_XBUTTONDOWN;
      buttonsHeld = std::max(0, buttonsHeld + (down ? 1 : -1));
    }
    out.push_back(e);
  }
  return out;
}

}  // namespace

std::vector<JournalEntry> ApplyEdits(const JournalEdits& edits, std::vector<JournalEntry> entries) {
  if (edits.dropMoves) entries = DropMoves(entries);
  if (edits.trim) {
    auto first = std::find_if(entries.begin(), entries.end(),
                              [](const JournalEntry& e) { return e.tag == 1; });
    if (first != entries.end()) first->event.time = 0;
  }
  for (JournalEntry& e : entries) {
    if (e.tag != 1) continue;
    std::uint32_t& d = e.event.time;
    if (edits.scaleDelays) {
      const double scaled = std::round(PlayedDelay(d) * *edits.scaleDelays);
      if (!(scaled >= 0)) {
        d = 0;  // a factor that is not a number
      } else {
        d = scaled >= kLongestDelay ? kLongestDelay : static_cast<std::uint32_t>(scaled);
      }
    }
    if (edits.maxDelay && PlayedDelay(d) > *edits.maxDelay) d = *edits.maxDelay;
  }
  return entries;
}

}  // namespace vesk
