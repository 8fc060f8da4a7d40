// The simulated desktop's state folder over the system's own files.
#include "platform/sim/sim_files.h"

#include <system_error>

namespace vesk::sim {

namespace {

// Passes everything to the real file but writes, which fail while the
// desktop's switch is on.
class SimHeldFile final : public HeldFile {
 public:
  SimHeldFile(std::unique_ptr<HeldFile> real, const std::atomic<bool>& fail)
      : real_(std::move(real)), fail_(fail) {}
  bool Append(std::string_view bytes) override { return !fail_ && real_->Append(bytes); }
  bool Sync() override { return !fail_ && real_->Sync(); }
  std::uint64_t Size() override { return real_->Size(); }
  bool ReadAt(std::uint64_t offset, char* buffer, std::size_t n) override {
    return real_->ReadAt(offset, buffer, n);
  }
  bool Truncate(std::uint64_t size) override { return !fail_ && real_->Truncate(size); }

 private:
  std::unique_ptr<HeldFile> real_;
  const std::atomic<bool>& fail_;
};

}  // namespace

SimStateFiles::SimStateFiles() {
  static std::atomic<int> serial{0};
  const auto stamp = std::filesystem::file_time_type::clock::now().time_since_epoch().count();
  owned_ = std::filesystem::temp_directory_path() /
           ("vesk-sim-state-" + std::to_string(stamp) + "-" + std::to_string(++serial));
  folder_ = owned_;
}

SimStateFiles::~SimStateFiles() {
  std::error_code ec;
  std::filesystem::remove_all(owned_, ec);
}

std::string SimStateFiles::StateFolder(std::string* why) {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  if (!std::filesystem::is_directory(folder_, ec)) {
    *why = "cannot create " + folder_.string();
    return {};
  }
  return folder_.string();
}

std::unique_ptr<HeldFile> SimStateFiles::CreateLocked(const std::string& path, bool* exists) {
  std::unique_ptr<HeldFile> real = NativeStateFiles().CreateLocked(path, exists);
  if (real == nullptr) return nullptr;
  return std::make_unique<SimHeldFile>(std::move(real), failWrites_);
}

}  // namespace vesk::sim
