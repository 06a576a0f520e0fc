// Lock files and whole-file reads on Windows. A lock file is opened without
// following a reparse point and locked with LockFileEx, retried until a time-out as
// Windows offers no wait with one; reads share the file with writers and deleters,
// so that they never stop a replacement.
#include "qmos/file_replace.h"

#include <io.h>

#include <chrono>
#include <thread>

#include "files/win32/file_handles.h"

namespace qmos {

using detail::AdoptHandle;
using detail::Describe;
using detail::HandleOf;
using detail::IsFolder;
using detail::Kind;
using detail::KindOf;
using detail::Widen;

FileLock::~FileLock() {
  if (fd_ < 0) return;
  // Windows releases the locks of a closed handle only in its own time: unlock first.
  OVERLAPPED whole{};
  ::UnlockFileEx(HandleOf(fd_), 0, MAXDWORD, MAXDWORD, &whole);
  ::_close(fd_);
}

bool FileLock::Acquire(const std::string& lockPath, bool exclusive, int timeoutMs,
                       std::string& error) {
  std::wstring wide;
  if (!Widen(lockPath, wide)) {
    error = Describe("cannot open the lock file", lockPath, ::GetLastError());
    return false;
  }
  // The reparse point itself is opened, never what it names (a link planted at the
  // name would create or lock a file elsewhere); a lock file made by another user
  // that this one cannot write is still locked through a read-only handle.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                OPEN_ALWAYS, kFlags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    handle = ::CreateFileW(wide.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags,
                           nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    error = IsFolder(wide) ? "the lock file " + lockPath + " is not a regular file"
                           : Describe("cannot open the lock file", lockPath, code);
    return false;
  }
  const Kind kind = KindOf(handle);
  if (kind != Kind::Regular) {
    ::CloseHandle(handle);
    error = kind == Kind::Link ? "cannot open the lock file " + lockPath +
                                     ": it is a symbolic link or junction, which is not followed"
                               : "the lock file " + lockPath + " is not a regular file";
    return false;
  }
  fd_ = AdoptHandle(handle);
  if (fd_ < 0) {
    error = Describe("cannot open the lock file", lockPath, ::GetLastError());
    ::CloseHandle(handle);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::microseconds(200);
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  for (;;) {
    OVERLAPPED whole{};  // the lock covers every byte, from offset 0
    if (::LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &whole)) return true;
    const DWORD code = ::GetLastError();
    if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
      error = Describe("cannot lock", lockPath, code);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "timed out waiting for the lock on " + lockPath;
      return false;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::microseconds(10'000)) pause *= 2;
  }
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& out,
                   std::string& error, bool* missing) {
  out.clear();
  if (missing != nullptr) *missing = false;
  std::wstring wide;
  if (!Widen(path, wide)) {
    error = Describe("cannot open", path, ::GetLastError());
    return false;
  }
  // A link at the path is followed, as a reader elsewhere follows one (the file is
  // only read; a replacement puts a file in the link's place). Sharing allows
  // writing and deletion, so that reading never stops a writer replacing the file.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if ((code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) && missing != nullptr) {
      *missing = true;
      return true;
    }
    error = IsFolder(wide) ? path + " is not a regular file" : Describe("cannot open", path, code);
    return false;
  }
  if (KindOf(handle) != Kind::Regular) {
    ::CloseHandle(handle);
    error = path + " is not a regular file";
    return false;
  }
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_HANDLE_EOF) break;
      ::CloseHandle(handle);
      error = Describe("cannot read", path, code);
      return false;
    }
    if (n == 0) break;
    if (out.size() + n > maxBytes) {
      ::CloseHandle(handle);
      error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    out.append(buffer.data(), n);
  }
  ::CloseHandle(handle);
  return true;
}

}  // namespace qmos
