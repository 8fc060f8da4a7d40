// The recovery journal: a copy of the recording written as it is made, so
// that a crash, a kill or Exit loses nothing; and the start-up look for the
// ones that no running program holds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/state_files.h"
#include "storage/journal.h"

namespace vesk {

// The writer runs on a thread of its own: the recording step only copies
// 24 bytes into a buffer, and the thread writes the batch and syncs it at
// least this often while events arrive.
inline constexpr std::chrono::milliseconds kRecoveryFlushInterval{250};

class RecoveryJournal {
 public:
  RecoveryJournal() = default;
  // Writes what is pending and closes the file, which stays.
  ~RecoveryJournal();
  RecoveryJournal(const RecoveryJournal&) = delete;
  RecoveryJournal& operator=(const RecoveryJournal&) = delete;

  // Creates a new recovery journal in the state folder. Returns the log
  // line when it cannot (the recording is then not protected), else "".
  std::string Begin(StateFiles& files);
  bool Active() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }

  // On the user-interface thread, once per recorded event; never waits on
  // the disk.
  void Append(const JournalEntry& entry) {
    if (file_ == nullptr || failed_.load(std::memory_order_relaxed)) return;
    char record[kJournalRecordSize];
    EncodeEntry(entry, record);
    bool wake;
    {
      std::lock_guard<std::mutex> lock(m_);
      wake = pending_.empty();
      pending_.append(record, kJournalRecordSize);
    }
    if (wake) cv_.notify_one();
  }
  // The log line of a write that failed, once; "" otherwise. Cheap.
  std::string TakeFailure() {
    if (!failed_.load(std::memory_order_relaxed) || failureTold_) return {};
    failureTold_ = true;
    return "This recording is not protected: could not write the recovery journal " + path_ + ".";
  }
  // Waits until every event appended so far is on the disk (or failed).
  void Flush();
  // Flushes and closes; removes the file when the recording is safe.
  void End(bool remove);

 private:
  void Run();
  void StopThread();

  StateFiles* files_ = nullptr;
  std::unique_ptr<HeldFile> file_;
  std::string path_;
  std::thread writer_;
  std::mutex m_;
  std::condition_variable cv_;
  std::condition_variable done_;
  std::string pending_;
  bool stop_ = false;
  std::uint64_t requested_ = 0;  // flush requests made / served
  std::uint64_t served_ = 0;
  std::atomic<bool> failed_{false};
  bool failureTold_ = false;
};

// Name of a recovery journal: recording-<pid>-YYYYMMDD-HHMMSS.alg, with
// -2, -3 before the extension when taken.
std::string RecoveryJournalName(std::uint32_t pid, const LocalTime& t, int serial);

// Looks for recovery journals that no running program holds, renames each
// to VeskRecovered-YYYY-MM-DD-HHMMSS.alg (-2, -3 when taken) in the state
// folder after dropping a damaged or partial last record, and returns one
// log line for each.
std::vector<std::string> RecoverOrphans(StateFiles& files);

}  // namespace vesk
