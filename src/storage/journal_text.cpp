// Writing and reading the text form of a journal (see journal_text.h).
//
// Each line names what a person needs (delay, message, position or key);
// whatever the record holds beyond that follows as name=value fields, so a
// record read back is the record written, bit for bit.
#include "storage/journal_text.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "script/key_names.h"
#include "storage/event_names.h"

namespace vesk {

namespace {

constexpr std::uint32_t kExtended = 0x8000;

std::string Hex(std::uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, static_cast<unsigned>(v));
  return buf;
}

// A name's key code: the first of its rows that names a virtual key (the
// table also keeps older rows without one, e.g. "HOME" 0x4700).
std::optional<std::uint32_t> CodeOfName(std::string_view name) {
  std::optional<std::uint32_t> first;
  for (const KeyNameRow& row : KeyNameTable()) {
    if (row.code == 0) break;
    if (name != row.name) continue;
    if ((row.code & 0xFFu) != 0) return row.code;
    if (!first) first = row.code;
  }
  return first;
}

// The key's name when the table has this very key (scan code and virtual
// key) under a name that reads back as it; otherwise the virtual key in hex
// (a name for the virtual key alone could name another key: the table's
// small letters share their codes with the numeric keypad and F keys).
std::string KeyToken(std::uint32_t scan, std::uint32_t vk) {
  const std::uint32_t code = (scan << 8) | vk;
  for (const KeyNameRow& row : KeyNameTable()) {
    if (row.code == 0) break;
    if (row.code == code && CodeOfName(row.name) == code) return row.name;
  }
  return Hex(vk, 2);
}

// The record a line's named part describes, before its fields.
EVENTMSG Described(const EventName* name, std::int32_t x, std::int32_t y, std::uint32_t extra,
                   std::uint32_t keyCode, bool extended) {
  EVENTMSG e{};
  if (name == nullptr) return e;
  e.message = name->message;
  if (name->args == EventArgs::Key) {
    e.paramL = keyCode;
    e.paramH = extended ? kExtended : 0;
  } else {
    e.paramL = static_cast<std::uint32_t>(x);
    e.paramH = static_cast<std::uint32_t>(y);
    if (name->args != EventArgs::Position) e.hwnd = extra;
  }
  return e;
}

// Appends a space and the word. Lines are built by appends: GCC 12 at -O3
// warns falsely about a string added to a short literal.
void AddWord(std::string& line, const std::string& word) {
  line.push_back(' ');
  line.append(word);
}

void Pad(std::string& line, std::size_t width) {
  if (line.size() < width) line.append(width - line.size(), ' ');
}

std::string Line(const JournalEntry& entry) {
  const EVENTMSG& e = entry.event;
  std::string line(1, '+');
  line.append(std::to_string(e.time));
  Pad(line, 6);
  line += ' ';
  const EventName* name = FindEventName(e.message);
  EVENTMSG described{};
  if (name == nullptr) {
    line += "other";
  } else if (name->args == EventArgs::Key) {
    const std::uint32_t vk = e.paramL & 0xFFu;
    const std::uint32_t scan = (e.paramL >> 8) & 0xFFu;
    const bool ext = (e.paramH & kExtended) != 0;
    line += name->text;
    AddWord(line, KeyToken(scan, vk));
    AddWord(line, "scan=" + Hex(scan, 2));
    if (ext) line += " ext";
    described = Described(name, 0, 0, 0, (scan << 8) | vk, ext);
  } else {
    const auto x = static_cast<std::int32_t>(e.paramL);
    const auto y = static_cast<std::int32_t>(e.paramH);
    line += name->text;
    AddWord(line, std::to_string(x));
    AddWord(line, std::to_string(y));
    if (name->args == EventArgs::PositionAmount) {
      AddWord(line, std::to_string(static_cast<std::int32_t>(e.hwnd)));
    } else if (name->args == EventArgs::PositionButton) {
      AddWord(line, std::to_string(e.hwnd));
    }
    described = Described(name, x, y, e.hwnd, 0, false);
  }
  described.time = e.time;
  if (entry.tag != 1) line += " tag=" + std::to_string(entry.tag);
  if (described.message != e.message) line += " message=" + Hex(e.message, 4);
  if (described.paramL != e.paramL) line += " paramL=" + Hex(e.paramL, 8);
  if (described.paramH != e.paramH) line += " paramH=" + Hex(e.paramH, 8);
  if (described.hwnd != e.hwnd) line += " hwnd=" + Hex(e.hwnd, 8);
  return line;
}

std::string Seconds(std::uint64_t ms) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%llu.%03llu s", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  return buf;
}

}  // namespace

JournalStats Summarise(const std::vector<JournalEntry>& entries) {
  JournalStats s;
  s.records = entries.size();
  for (const JournalEntry& entry : entries) {
    const EVENTMSG& e = entry.event;
    if (entry.tag != 1) ++s.otherTags;
    if (e.time > 0x7FFFFFFFu) ++s.impossibleDelays;
    const EventName* name = FindEventName(e.message);
    if (name == nullptr) ++s.unreplayable;
    if (entry.tag != 1) continue;
    ++s.toPlay;
    s.playMillis += PlayedDelay(e.time);
    if (name == nullptr) {
      ++s.unknown;
      continue;
    }
    switch (name->kind) {
      case EventKind::Move:
        ++s.moves;
        break;
      case EventKind::Click:
        ++s.clicks;
        break;
      case EventKind::Key:
        ++s.keys;
        break;
      case EventKind::Wheel:
        ++s.wheel;
        break;
      case EventKind::Side:
        ++s.side;
        break;
    }
    if (name->args == EventArgs::Key) continue;
    const auto x = static_cast<std::int32_t>(e.paramL);
    const auto y = static_cast<std::int32_t>(e.paramH);
    if (!s.hasPosition) {
      s.minX = s.maxX = x;
      s.minY = s.maxY = y;
      s.hasPosition = true;
    }
    s.minX = std::min(s.minX, x);
    s.maxX = std::max(s.maxX, x);
    s.minY = std::min(s.minY, y);
    s.maxY = std::max(s.maxY, y);
  }
  return s;
}

std::string Count(std::uint64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string JournalToText(const std::vector<JournalEntry>& entries) {
  const JournalStats s = Summarise(entries);
  std::string out =
      std::string(kTextJournalMagic) + " " + std::to_string(kTextJournalVersion) + "\n";
  out += "# " + Count(s.records, "event", "events") + ", " + Seconds(s.playMillis) +
         " at recorded speed\n";
  out += "# moves " + std::to_string(s.moves) + ", clicks " + std::to_string(s.clicks) + ", keys " +
         std::to_string(s.keys) + ", wheel " + std::to_string(s.wheel) + "\n";
  out.reserve(out.size() + entries.size() * 32);
  for (const JournalEntry& entry : entries) {
    out += Line(entry);
    out += '\n';
  }
  return out;
}

std::vector<JournalEntry> EntriesOf(const Journal& journal) {
  std::vector<JournalEntry> v;
  v.reserve(journal.Size());
  for (std::size_t i = 0; i < journal.Size(); ++i) v.push_back(journal.At(i));
  return v;
}

void Assign(Journal& journal, const std::vector<JournalEntry>& entries) {
  journal.RemoveAll();
  for (const JournalEntry& e : entries) journal.Append(e);
}

std::string EncodeEntries(const std::vector<JournalEntry>& entries) {
  std::string bytes(entries.size() * kJournalRecordSize, '\0');
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EncodeEntry(entries[i], bytes.data() + i * kJournalRecordSize);
  }
  return bytes;
}

namespace {

// One line's words, each with the column (1-based) it starts at; a word
// that starts with '#' begins a comment.
struct Word {
  std::string_view text;
  std::size_t column;
};

std::vector<Word> Words(std::string_view line) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    words.push_back({line.substr(start, i - start), start + 1});
  }
  return words;
}

std::optional<std::uint64_t> Unsigned(std::string_view t, std::uint64_t max) {
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty() || t.size() > 20) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : t) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return std::nullopt;
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (v > max) return std::nullopt;
  }
  return v;
}

std::optional<std::int32_t> Signed32(std::string_view t) {
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  if (t.size() > 1 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) return std::nullopt;
  const std::optional<std::uint64_t> v = Unsigned(t, negative ? 0x80000000u : 0x7FFFFFFFu);
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(*v)
                                            : static_cast<std::int64_t>(*v));
}

class LineReader {
 public:
  LineReader(std::size_t number, std::string_view line) : number_(number), words_(Words(line)) {
    end_ = line.size() + 1;
  }
  bool Empty() const { return words_.empty(); }
  const std::string& Error() const { return error_; }

  bool Read(JournalEntry& entry) {
    const Word* delay = Next("a delay such as +15");
    if (delay == nullptr) return false;
    const std::optional<std::uint64_t> ms = delay->text.size() > 1 && delay->text[0] == '+'
                                                ? Unsigned(delay->text.substr(1), 0xFFFFFFFFu)
                                                : std::nullopt;
    if (!ms) return Fail(*delay, "a delay in milliseconds such as +15 (0 to 4294967295)");
    const Word* message = Next("a message name such as move, left-down or key-down");
    if (message == nullptr) return false;
    const EventName* name = FindEventByText(message->text);
    if (name == nullptr && message->text != "other") {
      return Fail(*message, "a message name such as move, left-down, key-down or other");
    }
    std::int32_t x = 0, y = 0;
    std::uint32_t extra = 0, keyCode = 0;
    bool extended = false;
    if (name != nullptr && name->args == EventArgs::Key) {
      const Word* key = Next("a key name or a virtual-key code such as 0x41");
      if (key == nullptr) return false;
      if (key->text.size() > 2 && key->text[0] == '0' && key->text[1] == 'x') {
        const std::optional<std::uint64_t> vk = Unsigned(key->text, 0xFF);
        if (!vk) return Fail(*key, "a virtual-key code from 0x00 to 0xFF");
        keyCode = static_cast<std::uint32_t>(*vk);
      } else if (const std::optional<std::uint32_t> code = CodeOfName(key->text)) {
        keyCode = *code;
      } else {
        return Fail(*key, "a key name of the key name table or a virtual-key code such as 0x41");
      }
    } else if (name != nullptr) {
      if (!Position(x, "the x position (a signed whole number)") ||
          !Position(y, "the y position (a signed whole number)")) {
        return false;
      }
      if (name->args == EventArgs::PositionAmount) {
        std::int32_t amount = 0;
        if (!Position(amount, "the wheel's amount (a signed whole number such as 120)"))
          return false;
        extra = static_cast<std::uint32_t>(amount);
      } else if (name->args == EventArgs::PositionButton) {
        const Word* b = Next("the side button's number");
        if (b == nullptr) return false;
        const std::optional<std::uint64_t> v = Unsigned(b->text, 0xFFFFFFFFu);
        if (!v) return Fail(*b, "the side button's number (such as 1 or 2)");
        extra = static_cast<std::uint32_t>(*v);
      }
    }
    // Named words and fields.
    std::optional<std::uint64_t> tag, msg, paramL, paramH, hwnd, scan;
    for (; next_ < words_.size(); ++next_) {
      const Word& w = words_[next_];
      if (name != nullptr && name->args == EventArgs::Key && w.text == "ext") {
        extended = true;
        continue;
      }
      const std::size_t eq = w.text.find('=');
      if (eq == std::string_view::npos || eq == 0) {
        return Fail(w, "a field such as tag=2 or hwnd=0x10, or the end of the line");
      }
      const std::string_view field = w.text.substr(0, eq);
      const std::string_view value = w.text.substr(eq + 1);
      const bool key = name != nullptr && name->args == EventArgs::Key;
      std::optional<std::uint64_t>* slot = nullptr;
      std::uint64_t max = 0xFFFFFFFFu;
      if (field == "tag") {
        const std::optional<std::int32_t> t = Signed32(value);
        if (!t) return Fail(w, "tag= with a signed whole number");
        tag = static_cast<std::uint32_t>(*t);
        continue;
      }
      if (field == "message") slot = &msg;
      if (field == "paramL") slot = &paramL;
      if (field == "paramH") slot = &paramH;
      if (field == "hwnd") slot = &hwnd;
      if (field == "scan" && key) {
        slot = &scan;
        max = 0xFF;
      }
      if (slot == nullptr) {
        return Fail(w, key ? "one of the fields scan, ext, tag, message, paramL, paramH, hwnd"
                           : "one of the fields tag, message, paramL, paramH, hwnd");
      }
      *slot = Unsigned(value, max);
      if (!*slot) {
        return Fail(w, std::string(field) + "= with a number" +
                           (max == 0xFF ? " from 0 to 0xFF" : " from 0 to 0xFFFFFFFF"));
      }
    }
    if (scan) keyCode = (keyCode & 0xFFu) | (static_cast<std::uint32_t>(*scan) << 8);
    entry.tag = tag ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*tag)) : 1;
    entry.event = Described(name, x, y, extra, keyCode, extended);
    entry.event.time = static_cast<std::uint32_t>(*ms);
    if (msg) entry.event.message = static_cast<std::uint32_t>(*msg);
    if (paramL) entry.event.paramL = static_cast<std::uint32_t>(*paramL);
    if (paramH) entry.event.paramH = static_cast<std::uint32_t>(*paramH);
    if (hwnd) entry.event.hwnd = static_cast<std::uint32_t>(*hwnd);
    return true;
  }

  // The first line: the format's name and version.
  bool Header() {
    if (words_.size() >= 1 && words_[0].text == kTextJournalMagic) {
      if (words_.size() == 2 && words_[1].text == std::to_string(kTextJournalVersion)) return true;
      if (words_.size() < 2) return FailAt(end_, "the version 1 after vesk-journal");
      return Fail(words_[1],
                  "version 1 (the only version this program reads) and nothing after it");
    }
    return FailAt(1, "the first line \"vesk-journal 1\"");
  }

 private:
  const Word* Next(const std::string& what) {
    if (next_ < words_.size()) return &words_[next_++];
    FailAt(end_, what);
    return nullptr;
  }
  bool Position(std::int32_t& v, const char* what) {
    const Word* w = Next(what);
    if (w == nullptr) return false;
    const std::optional<std::int32_t> p = Signed32(w->text);
    if (!p) return Fail(*w, what);
    v = *p;
    return true;
  }
  bool Fail(const Word& w, const std::string& what) { return FailAt(w.column, what); }
  bool FailAt(std::size_t column, const std::string& what) {
    error_ = "line " + std::to_string(number_) + ", column " + std::to_string(column) +
             ": expected " + what;
    return false;
  }

  std::size_t number_;
  std::vector<Word> words_;
  std::size_t next_ = 0;
  std::size_t end_ = 1;
  std::string error_;
};

}  // namespace

bool JournalFromText(std::string_view text, std::vector<JournalEntry>& out, std::string& error) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // an editor's byte-order mark
  std::vector<JournalEntry> read;
  std::size_t number = 0;
  while (!text.empty() || number == 0) {
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    LineReader reader(number, line);
    if (number == 1) {
      if (!reader.Header()) {
        error = reader.Error();
        return false;
      }
      continue;
    }
    if (reader.Empty()) continue;
    JournalEntry entry;
    if (!reader.Read(entry)) {
      error = reader.Error();
      return false;
    }
    if (read.size() >= kMaxJournalRecords) {
      error = "line " + std::to_string(number) + ", column 1: expected at most " +
              std::to_string(kMaxJournalRecords) + " events";
      return false;
    }
    read.push_back(entry);
  }
  out.insert(out.end(), read.begin(), read.end());
  return true;
}

}  // namespace vesk
