// Log files on Windows. The path is opened with FILE_FLAG_OPEN_REPARSE_POINT, so a
// symbolic link, junction or mount point at it is opened itself and then refused,
// never followed; other processes may read, write and delete the file meanwhile. A
// new file is made CREATE_NEW with an access list for the user and SYSTEM only and
// the user as its owner. Before a line goes into an existing file, its handle must
// show a file on disk that is no folder and no reparse point, has one name and is
// owned by this process's user. Lines are written at an offset (OVERLAPPED) or, for
// a file opened for adding, at its end (FILE_APPEND_DATA).
#include "qmos/log_file.h"

#include "files/win32/file_handles.h"

#include <aclapi.h>

namespace qmos {

namespace {

using detail::PrivateAccess;
using detail::Widen;

constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
// Writing, and reading what Usable looks at: attributes and the owner.
constexpr DWORD kCheck = FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kWriteAt = FILE_WRITE_DATA | kCheck;
constexpr DWORD kAppend = FILE_APPEND_DATA | kCheck;

HANDLE HandleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// CreateFileW of path with the given access and disposition; a new file is private
// and owned by the user. INVALID_HANDLE_VALUE with the last error set on failure.
HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
  // Bytes that are not UTF-8 name no file, rather than some other one.
  std::wstring wide;
  if (!Widen(path, wide)) return INVALID_HANDLE_VALUE;
  PrivateAccess privateAccess;
  if (disposition != OPEN_EXISTING && (!privateAccess.Build() || !privateAccess.OwnedByUser())) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES* attributes = disposition == OPEN_EXISTING ? nullptr : privateAccess.Attributes();
  return ::CreateFileW(wide.c_str(), access, kShare, attributes, disposition, kFlags, nullptr);
}

// Whether the file of handle is owned by this process's user.
bool OwnedByThisUser(HANDLE handle) {
  PrivateAccess access;
  if (!access.Build()) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool own = owner != nullptr && ::EqualSid(owner, access.User());
  ::LocalFree(descriptor);
  return own;
}

}  // namespace

LogOpen LogFile::OpenExisting(const std::string& path) {
  Close();
  const HANDLE handle = Open(path, kWriteAt, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND ? LogOpen::Missing : LogOpen::Failed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  return LogOpen::Opened;
}

LogOpen LogFile::CreateNew(const std::string& path) {
  Close();
  const HANDLE handle = Open(path, kWriteAt, CREATE_NEW);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? LogOpen::Exists
                                                                     : LogOpen::Failed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  return LogOpen::Opened;
}

LogOpen LogFile::OpenForAppend(const std::string& path) {
  Close();
  const HANDLE handle = Open(path, kAppend, OPEN_ALWAYS);
  if (handle == INVALID_HANDLE_VALUE) return LogOpen::Failed;
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  append_ = true;
  return LogOpen::Opened;
}

bool LogFile::Usable(std::int64_t* size) const {
  if (!IsOpen()) return false;
  const HANDLE handle = HandleOf(handle_);
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) {
    return false;
  }
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if ((info.dwFileAttributes & kNotPlain) != 0 || info.nNumberOfLinks > 1) return false;
  if (!OwnedByThisUser(handle)) return false;
  if (size != nullptr) {
    *size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                      info.nFileSizeLow);
  }
  return true;
}

std::size_t LogFile::Write(std::string_view bytes, std::int64_t offset) {
  std::size_t written = 0;
  while (IsOpen() && written < bytes.size()) {
    const std::size_t left = bytes.size() - written;
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    // All bits set in the offset: the end of the file.
    const std::uint64_t at =
        append_ ? ~std::uint64_t{0} : static_cast<std::uint64_t>(offset) + written;
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(at);
    place.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD done = 0;
    if (!::WriteFile(HandleOf(handle_), bytes.data() + written, chunk, &done, &place) || done == 0) {
      break;
    }
    written += done;
  }
  return written;
}

void LogFile::Close() {
  if (!IsOpen()) return;
  ::CloseHandle(HandleOf(handle_));
  handle_ = kNone;
  append_ = false;
}

void RemoveLogFile(const std::string& path) {
  std::wstring wide;
  if (Widen(path, wide) && !wide.empty()) ::DeleteFileW(wide.c_str());
}

}  // namespace qmos
