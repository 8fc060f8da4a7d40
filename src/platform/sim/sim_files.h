// The simulated desktop's state folder: real files in a folder the test
// chooses, a fixed clock and process id, and switches that make the
// disk refuse writes or the folder missing.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/state_files.h"

namespace vesk::sim {

class SimStateFiles final : public StateFiles {
 public:
  SimStateFiles();
  ~SimStateFiles() override;

  // Where the state folder is (created when first asked for); by default a
  // fresh one of this desktop's own, removed with it.
  void SetFolder(std::filesystem::path folder) { folder_ = std::move(folder); }
  const std::filesystem::path& Folder() const { return folder_; }
  // Every write to a state file fails from now on, as on a full disk.
  void FailWrites(bool fail) { failWrites_ = fail; }
  void SetNow(const LocalTime& t) { now_ = t; }
  void SetProcessId(std::uint32_t pid) { pid_ = pid; }

  std::string StateFolder(std::string* why) override;
  std::unique_ptr<HeldFile> CreateLocked(const std::string& path, bool* exists) override;
  std::unique_ptr<HeldFile> LockExisting(const std::string& path) override {
    return NativeStateFiles().LockExisting(path);
  }
  std::vector<std::string> List(const std::string& folder) override {
    return NativeStateFiles().List(folder);
  }
  bool Remove(const std::string& path) override { return NativeStateFiles().Remove(path); }
  bool RenameNew(const std::string& from, const std::string& to) override {
    return NativeStateFiles().RenameNew(from, to);
  }
  std::uint32_t ProcessId() override { return pid_; }
  LocalTime Now() override { return now_; }
  std::string Join(const std::string& folder, const std::string& name) override {
    return NativeStateFiles().Join(folder, name);
  }

 private:
  std::filesystem::path folder_;
  std::filesystem::path owned_;  // the default folder, removed at the end
  std::atomic<bool> failWrites_{false};
  LocalTime now_{2026, 12, 7, 15, 30, 12};
  std::uint32_t pid_ = 4242;
};

}  // namespace vesk::sim
