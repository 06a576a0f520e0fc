// Helpers the Windows backend of file replacement, lock files and log files shares
// between its files: UTF-8 paths as UTF-16, error texts, descriptors over handles,
// file kinds, the private access list.
#pragma once

#include <windows.h>
// <windows.h> names ReplaceFileW ReplaceFile; libqmos defines qmos::ReplaceFile.
#undef ReplaceFile

#include <string>

namespace qmos::detail {

// "what path: the system's message for code".
std::string Describe(const std::string& what, const std::string& path, DWORD code);

// The UTF-16 form of a UTF-8 path; false (with the last error set) for bytes that
// are not UTF-8, which name no file rather than some other one.
bool Widen(const std::string& text, std::wstring& wide);

// The Windows handle under a C run-time descriptor.
HANDLE HandleOf(int fd);

// A C run-time descriptor that owns handle from now on; -1 (the handle still the
// caller's, the last error set) when the run-time has no descriptor left.
int AdoptHandle(HANDLE handle);

enum class Kind { Regular, Link, Other };

// What an open handle is: a file on disk, a link (a reparse point that names
// another file or folder: symbolic link, junction, mount point), or anything else
// (a folder, a device, a pipe). Other reparse points, such as files a cloud
// service keeps, are the file itself and count as regular.
Kind KindOf(HANDLE handle);

// Whether a name that could not be opened is a folder (or a link to one): an
// open of a folder as a file fails as "access denied", which would hide the reason.
bool IsFolder(const std::wstring& path);

// The Windows form of mode 0600: a DACL granting this process's user and SYSTEM
// full access and nobody else. Used at creation it is protected, so the folder's
// inheritable entries do not widen it. Holds pointers into itself: not movable.
class PrivateAccess {
 public:
  PrivateAccess() = default;
  PrivateAccess(const PrivateAccess&) = delete;
  PrivateAccess& operator=(const PrivateAccess&) = delete;

  // False with the last error set.
  bool Build();
  // Names this process's user as the owner of what is created with Attributes(),
  // rather than the token's default owner (for an elevated administrator, the
  // Administrators group). After Build.
  bool OwnedByUser();
  // This process's user. After Build.
  PSID User() { return reinterpret_cast<TOKEN_USER*>(user_)->User.Sid; }
  PACL Acl() { return reinterpret_cast<PACL>(acl_); }
  SECURITY_ATTRIBUTES* Attributes() {
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};  // not inherited by children
    return &attributes_;
  }

 private:
  alignas(8) BYTE user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE acl_[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace qmos::detail
