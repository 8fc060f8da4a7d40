// The access list every new file of Vesk gets on Windows.
#include "platform/win32/file_security.h"

namespace vesk::win32 {

namespace {

std::vector<BYTE> WellKnown(WELL_KNOWN_SID_TYPE type) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  std::vector<BYTE> sid(size);
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

}  // namespace

NewFileSecurity::NewFileSecurity() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> info(size);
  const bool ok =
      size > 0 && ::GetTokenInformation(token, TokenUser, info.data(), size, &size) != FALSE;
  ::CloseHandle(token);
  if (!ok) return;
  PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  user_.assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + ::GetLengthSid(user));
  system_ = WellKnown(WinLocalSystemSid);
  admins_ = WellKnown(WinBuiltinAdministratorsSid);
  if (system_.empty() || admins_.empty()) return;
  DWORD aclSize = sizeof(ACL);
  for (const auto* sid : {&user_, &system_, &admins_}) {
    aclSize += sizeof(ACCESS_ALLOWED_ACE) + static_cast<DWORD>(sid->size());
  }
  acl_.resize(aclSize);
  auto* acl = reinterpret_cast<ACL*>(acl_.data());
  valid_ = ::InitializeAcl(acl, aclSize, ACL_REVISION) != FALSE;
  for (auto* sid : {&user_, &system_, &admins_}) {
    valid_ = valid_ && ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid->data());
  }
  valid_ = valid_ && ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
           ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
}

}  // namespace vesk::win32
