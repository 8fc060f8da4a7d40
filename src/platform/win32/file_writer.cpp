#include "platform/file_writer.h"

#include "platform/win32/windows_api.h"

#include <algorithm>
#include <string>
#include <vector>

namespace vesk {

namespace {

bool WriteAll(HANDLE file, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

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

}  // namespace

WriteOutcome WriteFileReplacing(const std::string& path, std::string_view bytes, bool ownerOnly) {
  if (path.empty()) return WriteOutcome::OpenFailed;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return WriteOutcome::OpenFailed;
  }

  const std::string temp = path + ".vesk-tmp";
  // A stale temporary file would keep its old access list: start afresh.
  ::DeleteFileA(temp.c_str());
  OwnerOnly security;
  HANDLE file =
      ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, ownerOnly ? security.Attributes() : nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return WriteOutcome::OpenFailed;
  bool ok = WriteAll(file, bytes);
  if (ok && !::FlushFileBuffers(file)) ok = false;
  if (!::CloseHandle(file)) ok = false;
  if (!ok || !::MoveFileExA(temp.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileA(temp.c_str());
    return WriteOutcome::WriteFailed;
  }
  return WriteOutcome::Written;
}

}  // namespace vesk
