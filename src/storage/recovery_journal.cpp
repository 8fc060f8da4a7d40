// The recovery journal's writer thread, its names, and the start-up look
// for orphaned ones.
#include "storage/recovery_journal.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <system_error>

namespace vesk {

namespace {

constexpr const char* kNotProtected = "This recording is not protected: ";

std::string Stamp(const LocalTime& t, const char* format) {
  char text[64];
  std::snprintf(text, sizeof text, format, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

std::string WithSerial(std::string stem, int serial) {
  if (serial > 1) {
    stem += '-';
    stem += std::to_string(serial);
  }
  stem += ".alg";
  return stem;
}

bool Digits(std::string_view s, std::size_t n) {
  return s.size() == n &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// The start time in a recovery journal's name, or nothing when the name is
// not one.
std::optional<LocalTime> ParseName(std::string_view name) {
  constexpr std::string_view kPrefix = "recording-";
  constexpr std::string_view kExt = ".alg";
  if (name.size() <= kPrefix.size() + kExt.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(kExt)) {
    return std::nullopt;
  }
  std::string_view rest = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kExt.size());
  std::vector<std::string_view> parts;
  while (true) {
    const auto dash = rest.find('-');
    parts.push_back(rest.substr(0, dash));
    if (dash == std::string_view::npos) break;
    rest.remove_prefix(dash + 1);
  }
  if (parts.size() < 3 || parts.size() > 4 || parts[0].empty() || parts[0].size() > 10 ||
      !std::all_of(parts[0].begin(), parts[0].end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      !Digits(parts[1], 8) || !Digits(parts[2], 6) ||
      (parts.size() == 4 && (parts[3].empty() || !Digits(parts[3], parts[3].size())))) {
    return std::nullopt;
  }
  const std::string_view d = parts[1];
  const std::string_view h = parts[2];
  return LocalTime{Number(d.substr(0, 4)), Number(d.substr(4, 2)), Number(d.substr(6, 2)),
                   Number(h.substr(0, 2)), Number(h.substr(2, 2)), Number(h.substr(4, 2))};
}

// Whole records up to the last one a recording could have written: a torn
// tail, and whole records whose tag is not 1 (zeros a power cut left),
// are dropped, as Play passes them over.
std::uint64_t SoundRecords(HeldFile& file) {
  std::uint64_t records = file.Size() / kJournalRecordSize;
  char record[kJournalRecordSize];
  while (records > 0 &&
         file.ReadAt((records - 1) * kJournalRecordSize, record, kJournalRecordSize)) {
    if (DecodeEntry(reinterpret_cast<const unsigned char*>(record)).tag == 1) break;
    --records;
  }
  return records;
}

}  // namespace

std::string RecoveryJournalName(std::uint32_t pid, const LocalTime& t, int serial) {
  return WithSerial("recording-" + std::to_string(pid) + Stamp(t, "-%04d%02d%02d-%02d%02d%02d"),
                    serial);
}

RecoveryJournal::~RecoveryJournal() { End(false); }

std::string RecoveryJournal::Begin(StateFiles& files) {
  End(false);
  files_ = &files;
  failed_ = false;
  failureTold_ = false;
  stop_ = false;
  pending_.clear();
  std::string why;
  const std::string folder = files.StateFolder(&why);
  if (folder.empty())
    return kNotProtected + std::string("no folder for a recovery journal (") + why + ").";
  const LocalTime now = files.Now();
  const std::uint32_t pid = files.ProcessId();
  // The same second twice (Stop, then Record at once) takes the next serial.
  for (int serial = 1; serial <= 100 && file_ == nullptr; ++serial) {
    path_ = files.Join(folder, RecoveryJournalName(pid, now, serial));
    bool exists = false;
    file_ = files.CreateLocked(path_, &exists);
    if (!exists) break;
  }
  if (file_ == nullptr) {
    return kNotProtected + std::string("could not create a recovery journal in ") + folder + ".";
  }
  try {
    writer_ = std::thread(&RecoveryJournal::Run, this);
  } catch (const std::system_error&) {
    file_.reset();
    files.Remove(path_);
    return kNotProtected + std::string("could not start the recovery journal's writer.");
  }
  return {};
}

void RecoveryJournal::Run() {
  std::string batch;
  std::unique_lock<std::mutex> lock(m_);
  while (true) {
    cv_.wait(lock, [this] { return stop_ || requested_ != served_ || !pending_.empty(); });
    // Gather a batch, unless someone waits for it.
    if (!stop_ && requested_ == served_) {
      cv_.wait_for(lock, kRecoveryFlushInterval, [this] { return stop_ || requested_ != served_; });
    }
    batch.swap(pending_);  // both keep their capacity: memory stays flat
    const std::uint64_t serving = requested_;
    const bool stopping = stop_;
    lock.unlock();
    if (!batch.empty() && !failed_.load()) {
      if (!file_->Append(batch) || !file_->Sync()) failed_.store(true);
    }
    batch.clear();
    lock.lock();
    served_ = serving;
    done_.notify_all();
    if (stopping) return;
  }
}

void RecoveryJournal::Flush() {
  if (!writer_.joinable()) return;
  std::unique_lock<std::mutex> lock(m_);
  const std::uint64_t ticket = ++requested_;
  cv_.notify_one();
  done_.wait(lock, [&] { return served_ >= ticket; });
}

void RecoveryJournal::StopThread() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
  }
  cv_.notify_one();
  writer_.join();
}

void RecoveryJournal::End(bool remove) {
  StopThread();
  if (file_ == nullptr) return;
  file_.reset();
  if (remove) files_->Remove(path_);
}

std::vector<std::string> RecoverOrphans(StateFiles& files) {
  std::vector<std::string> lines;
  std::string why;
  const std::string folder = files.StateFolder(&why);
  if (folder.empty()) return lines;
  std::vector<std::string> names = files.List(folder);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::optional<LocalTime> when = ParseName(name);
    if (!when) continue;
    const std::string path = files.Join(folder, name);
    // A running program holds its own: only orphans can be locked.
    const std::unique_ptr<HeldFile> held = files.LockExisting(path);
    if (held == nullptr) continue;
    const std::uint64_t records = SoundRecords(*held);
    if (records * kJournalRecordSize != held->Size()) {
      held->Truncate(records * kJournalRecordSize);
    }
    std::string target;
    for (int serial = 1; serial <= 1000; ++serial) {
      const std::string candidate = files.Join(
          folder, WithSerial(Stamp(*when, "VeskRecovered-%04d-%02d-%02d-%02d%02d%02d"), serial));
      if (files.RenameNew(path, candidate)) {
        target = candidate;
        break;
      }
    }
    const std::string count = std::to_string(records) + (records == 1 ? " event" : " events");
    const std::string recorded = Stamp(*when, "%04d-%02d-%02d %02d:%02d:%02d");
    lines.push_back(target.empty() ? "Found an unsaved recording of " + count + ", recorded " +
                                         recorded + ", in " + path + " (it could not be renamed)"
                                   : "Recovered an unsaved recording of " + count + ", recorded " +
                                         recorded + ": " + target);
  }
  return lines;
}

}  // namespace vesk
