// Whole-file replacement on Windows. The temporary file beside the path is made
// with CREATE_NEW (a fresh name: never an existing file, never through a link) and
// a DACL that grants this user and SYSTEM only; it is flushed and renamed over the
// path through its own handle (or, where the system cannot, by MoveFileExW), which
// replaces a link found at the path instead of writing through it. Paths are UTF-8
// and go to the W functions as UTF-16; the descriptors handed out are the C
// run-time's, over the Windows handle, so that a caller reads, stats and closes
// them as it would on any other system.
#include "qmos/file_replace.h"

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "files/win32/file_handles.h"

namespace qmos {

namespace detail {

namespace {

std::string SystemMessage(DWORD code) {
  wchar_t text[512];
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text / sizeof text[0], nullptr);
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                        text[length - 1] == L' ' || text[length - 1] == L'.')) {
    --length;
  }
  const int size = length == 0 ? 0
                               : ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length),
                                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return "error " + std::to_string(code);
  std::string message(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), size, nullptr,
                        nullptr);
  return message;
}

}  // namespace

std::string Describe(const std::string& what, const std::string& path, DWORD code) {
  return what + " " + path + ": " + SystemMessage(code);
}

bool Widen(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (text.empty()) return true;
  const int length = static_cast<int>(text.size());
  const int size =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (size <= 0) return false;
  wide.resize(static_cast<std::size_t>(size));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(),
                               size) == size;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

int AdoptHandle(HANDLE handle) {
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_NOINHERIT);
  if (fd < 0) ::SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  return fd;
}

Kind KindOf(HANDLE handle) {
  if (::GetFileType(handle) != FILE_TYPE_DISK) return Kind::Other;
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
    return Kind::Other;
  }
  if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      IsReparseTagNameSurrogate(info.ReparseTag) != 0) {
    return Kind::Link;
  }
  return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::Other : Kind::Regular;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PrivateAccess::Build() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  const BOOL gotUser = ::GetTokenInformation(token, TokenUser, user_, sizeof user_, &size);
  const DWORD code = ::GetLastError();
  ::CloseHandle(token);
  if (!gotUser) {
    ::SetLastError(code);
    return false;
  }
  DWORD systemSize = sizeof system_;
  const PACL acl = Acl();
  return ::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize) &&
         ::InitializeAcl(acl, sizeof acl_, ACL_REVISION) &&
         ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, User()) &&
         ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system_) &&
         ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
         ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
         ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

bool PrivateAccess::OwnedByUser() {
  return ::SetSecurityDescriptorOwner(&descriptor_, User(), FALSE) != 0;
}

}  // namespace detail

namespace {

using detail::Describe;
using detail::HandleOf;
using detail::Widen;

// New names tried for the temporary file before giving up on the folder.
constexpr int kNameAttempts = 100;
// How long a move waits out another program (a scanner, an indexer, a reader that
// did not allow deletion) holding the file open: Windows refuses to replace a file
// that is open that way, where a rename elsewhere does not care.
constexpr int kMoveRetryMs = 1000;

// Marks the file of handle for deletion when its last handle closes: the file
// this process made, whatever now carries its name.
bool MarkForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFO remove{TRUE};
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &remove, sizeof remove) != 0;
}

// Six characters for a temporary name. The name need not be secret, since
// CREATE_NEW never opens a file that is there, but should rarely meet one; names
// are case-blind here, so only lower-case letters and digits.
std::string TemporarySuffix() {
  static std::atomic<std::uint32_t> counter{0};
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  std::uint64_t x = static_cast<std::uint64_t>(now.QuadPart) ^
                    (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^
                    (static_cast<std::uint64_t>(::GetCurrentThreadId()) << 16) ^
                    (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  static constexpr char kCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(6, '0');
  for (char& c : suffix) {
    c = kCharacters[x % 36];
    x /= 36;
  }
  return suffix;
}

// Renames the handle's own file to the last name of path, in its folder, with
// POSIX semantics (Windows 10 and later, on NTFS): a file at that name is replaced
// even while others hold it open, provided they allowed deletion, as the
// descriptor Commit hands out and the readers here do. False where the system or
// the file system does not offer it.
bool RenameOver(HANDLE handle, const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\:");
  std::wstring name;
  if (!Widen(path.substr(slash == std::string::npos ? 0 : slash + 1), name) || name.empty()) {
    return false;
  }
  const std::size_t bytes = name.size() * sizeof(wchar_t);
  constexpr std::size_t kUnit = sizeof(std::uint64_t);  // keeps the structure aligned
  std::vector<std::uint64_t> storage((sizeof(FILE_RENAME_INFO) + bytes + kUnit - 1) / kUnit);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;  // a bare name: the same folder
  info->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(info->FileName, name.data(), bytes);
  // FileRenameInfoEx, which these headers declare only for a later target version.
  constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  return ::SetFileInformationByHandle(handle, kRenameInfoEx, info,
                                      static_cast<DWORD>(storage.size() * kUnit)) != 0;
}

// MoveFileExW without a copy (the file stays on its volume, so the move is one
// rename) and written through, so that the new name lasts once it returns.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMoveRetryMs);
  auto pause = std::chrono::milliseconds(1);
  constexpr DWORD kMove = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  while (!::MoveFileExW(from.c_str(), to.c_str(), kMove)) {
    const DWORD code = ::GetLastError();
    if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED &&
         code != ERROR_LOCK_VIOLATION) ||
        std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
  return true;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  // Both slashes separate names; a drive ("C:") belongs to the folder.
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  const std::size_t root = drive ? 2 : 0;
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos || slash < root) return drive ? path.substr(0, 2) : ".";
  if (slash == root) return path.substr(0, root + 1);
  return path.substr(0, slash);
}

FileReplacement::FileReplacement(std::string path) : path_(std::move(path)) {}

FileReplacement::~FileReplacement() {
  if (fd_ < 0) return;
  const bool marked = MarkForDeletion(HandleOf(fd_));
  ::_close(fd_);
  std::wstring wide;
  if (!marked && Widen(temp_, wide)) ::DeleteFileW(wide.c_str());
}

bool FileReplacement::Create(std::string& error) {
  if (fd_ >= 0) return true;
  detail::PrivateAccess access;
  if (!access.Build()) {
    error = Describe("cannot make a private access list for", path_, ::GetLastError());
    return false;
  }
  DWORD code = ERROR_FILE_EXISTS;
  std::wstring wide;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp_ = path_ + ".tmp" + TemporarySuffix();
    if (!Widen(temp_, wide)) {
      code = ::GetLastError();
      break;
    }
    // CREATE_NEW fails on any name that is there, a link included, so a file or
    // link planted beside the path can neither be taken over nor receive the text.
    // Sharing allows deletion, so that the move and readers of the final file are
    // not hindered by this handle, which may be kept after the move.
    const HANDLE handle = ::CreateFileW(
        wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, access.Attributes(), CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      code = ::GetLastError();
      if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
      break;
    }
    fd_ = detail::AdoptHandle(handle);
    if (fd_ >= 0) return true;
    code = ::GetLastError();
    MarkForDeletion(handle);
    ::CloseHandle(handle);
    break;
  }
  error = Describe("cannot create a temporary file in", FolderOf(path_), code);
  return false;
}

bool FileReplacement::Write(std::string_view data, std::string& error) {
  if (fd_ < 0) {
    error = "no temporary file for " + path_;
    return false;
  }
  const HANDLE handle = HandleOf(fd_);
  while (!data.empty()) {
    const DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
    DWORD written = 0;
    const BOOL wrote = ::WriteFile(handle, data.data(), chunk, &written, nullptr);
    if (!wrote || written == 0) {
      error = Describe("cannot write", temp_, wrote ? ERROR_WRITE_FAULT : ::GetLastError());
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

bool FileReplacement::Commit(mode_t mode, std::string& error, int* keepFd) {
  if (fd_ < 0) {
    error = "no temporary file for " + path_;
    return false;
  }
  const HANDLE handle = HandleOf(fd_);
  // The file was made private. A mode that lets the group or others in gives it
  // what any new file in the folder gets: the folder's inheritable entries (this
  // user and SYSTEM keep theirs, so a folder with none does not lock them out).
  if ((mode & 077) != 0) {
    detail::PrivateAccess access;
    const DWORD code = access.Build()
                           ? ::SetSecurityInfo(handle, SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION |
                                                   UNPROTECTED_DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, access.Acl(), nullptr)
                           : ::GetLastError();
    if (code != ERROR_SUCCESS) {
      error = Describe("cannot set the access of", temp_, code);
      return false;
    }
  }
  if (!::FlushFileBuffers(handle)) {
    error = Describe("cannot flush", temp_, ::GetLastError());
    return false;
  }
  // NTFS journals a rename; flushing the file again after it commits the journal
  // with the new name, as flushing the folder does elsewhere.
  if (RenameOver(handle, path_)) {
    ::FlushFileBuffers(handle);
  } else {
    std::wstring from;
    std::wstring to;
    if (!Widen(temp_, from) || !Widen(path_, to) || !MoveOver(from, to)) {
      error = Describe("cannot rename " + temp_ + " to", path_, ::GetLastError());
      return false;
    }
  }
  if (keepFd != nullptr) {
    *keepFd = fd_;
  } else {
    ::_close(fd_);
  }
  fd_ = -1;
  return true;
}

}  // namespace qmos
