// The desktop's permission to replay without asking again (the portal's
// restore token), kept in a file beside the settings file.
#pragma once

#include <string>

namespace vesk::wayland {

inline constexpr const char* kRestoreTokenFileName = "VeskRemoteInput.token";

class RestoreTokenFile {
 public:
  explicit RestoreTokenFile(std::string path) : path_(std::move(path)) {}

  // The token, or empty when there is none or the file is not a token
  // (a line on stderr says so). The portal's tokens are UUIDs, and it fails
  // the whole request on anything else: such a file is removed.
  std::string Load() const;
  // Replaces the file (readable by the owner only); false with a line on
  // stderr when it cannot be written.
  bool Save(const std::string& token) const;
  // The desktop no longer accepts the token.
  void Forget() const;

  // The desktop gave a session but no emulated-input connection: kept
  // beside the token so later runs go to XTEST without asking the user.
  void MarkNoEis() const;
  bool NoEis() const;
  std::string NoEisPath() const { return path_ + ".no-eis"; }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vesk::wayland
