// The access rule of the files Vesk creates on Windows (journals, scripts,
// the recovery journal): shared by every place that creates one.
#pragma once

#include <vector>

#include "platform/win32/windows_api.h"

namespace vesk {

// A security descriptor that lets the current user alone into the file:
// a protected access list with one entry, so nothing is inherited from
// the folder.
class OwnerOnly {
 public:
  OwnerOnly() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool ok =
        size > 0 && ::GetTokenInformation(token, TokenUser, user_.data(), size, &size) != FALSE;
    ::CloseHandle(token);
    if (!ok) return;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid);
    acl_.resize(aclSize);
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    valid_ = ::InitializeAcl(acl, aclSize, ACL_REVISION) &&
             ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
             ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
  }
  SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }

 private:
  std::vector<BYTE> user_;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool valid_ = false;
};

}  // namespace vesk
