// The one rule for the access of every file Vesk creates on Windows
// (journals, scripts, settings, recovery journals): what a user's profile
// folder gives — the user, SYSTEM and Administrators — so that backups and
// administrators can read it while other ordinary users cannot, since
// journals hold what was typed. The list is protected: a folder shared
// with everyone does not widen it.
#pragma once

#include <vector>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

class NewFileSecurity {
 public:
  NewFileSecurity();
  NewFileSecurity(const NewFileSecurity&) = delete;
  NewFileSecurity& operator=(const NewFileSecurity&) = delete;

  // For CreateFile and friends; null when the user could not be looked up
  // (the folder's inherited access applies then).
  SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }
  const ACL* Acl() const { return valid_ ? reinterpret_cast<const ACL*>(acl_.data()) : nullptr; }

 private:
  std::vector<BYTE> user_;
  std::vector<BYTE> system_;
  std::vector<BYTE> admins_;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool valid_ = false;
};

}  // namespace vesk::win32
