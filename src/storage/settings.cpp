// The settings record and its file.
#include "storage/settings.h"

#include "platform/regular_file.h"

namespace vesk {

namespace {

void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Byte(std::uint8_t& v) {
    if (pos_ + 1 > bytes_.size()) return false;
    v = static_cast<std::uint8_t>(bytes_[pos_++]);
    return true;
  }
  bool U16(std::uint32_t& v) { return Le(2, v); }
  bool U32(std::uint32_t& v) { return Le(4, v); }
  std::size_t Remaining() const { return bytes_.size() - pos_; }
  std::string_view Take(std::size_t n) {
    auto s = bytes_.substr(pos_, n);
    pos_ += n;
    return s;
  }

 private:
  bool Le(int n, std::uint32_t& v) {
    if (pos_ + static_cast<std::size_t>(n) > bytes_.size()) return false;
    v = 0;
    for (int i = 0; i < n; ++i) {
      v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes_[pos_ + i])) << (8 * i);
    }
    pos_ += static_cast<std::size_t>(n);
    return true;
  }
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string VeskSettings::Serialize() const {
  std::string out;
  Put32(out, static_cast<std::uint32_t>(repeatCount));
  out.push_back(static_cast<char>(playAtStartup));
  out.push_back(static_cast<char>(playAtRecordedSpeed));
  const std::size_t n = defaultJournalPath.size();
  if (n < 255) {
    out.push_back(static_cast<char>(n));
  } else if (n < 0xFFFE) {
    out.push_back(static_cast<char>(0xFF));
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
  } else {
    out.append("\xFF\xFF\xFF", 3);
    Put32(out, static_cast<std::uint32_t>(n));
  }
  out.append(defaultJournalPath);
  return out;
}

bool VeskSettings::Deserialize(std::string_view bytes) {
  Reader r(bytes);
  std::uint32_t count = 0;
  std::uint8_t startup = 0;
  std::uint8_t speed = 0;
  std::uint8_t b = 0;
  if (!r.U32(count) || !r.Byte(startup) || !r.Byte(speed) || !r.Byte(b)) return false;
  std::uint32_t n = b;
  if (b == 0xFF) {
    std::uint32_t w = 0;
    if (!r.U16(w)) return false;
    if (w == 0xFFFE) return false;  // wide-text form: never written by this program
    n = w;
    if (w == 0xFFFF && !r.U32(n)) return false;
  }
  // The prefix is only believed as far as the file holds bytes.
  if (n > r.Remaining()) return false;
  std::string_view text = r.Take(n);
  if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  repeatCount = static_cast<std::int32_t>(count);
  playAtStartup = startup;
  playAtRecordedSpeed = speed;
  defaultJournalPath.assign(text);
  return true;
}

bool VeskSettings::Load() {
  RegularFile file;
  if (!file.Open(fileName, RegularFile::Mode::Read)) return false;
  std::string bytes;
  char buf[4096];
  std::size_t got = 0;
  // A record is at most 4 + 2 + 7 + 4 GiB; stop reading at what the
  // largest path this program writes could need, whatever the file's size.
  constexpr std::size_t kLimit = 16u << 20;
  while (bytes.size() < kLimit && (got = file.Read(buf, sizeof buf)) > 0) bytes.append(buf, got);
  return Deserialize(bytes);
}

bool VeskSettings::Save() const {
  // Rewritten in place, never truncated: open for update, create if missing.
  RegularFile file;
  if (!file.Open(fileName, RegularFile::Mode::Update)) return false;
  const bool written = file.Write(Serialize());
  const bool closed = file.Close();
  return written && closed;
}

}  // namespace vesk
