#include "qmos/file_replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace qmos {

namespace {

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

FileReplacement::FileReplacement(std::string path) : path_(std::move(path)) {}

FileReplacement::~FileReplacement() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(temp_.c_str());
}

bool FileReplacement::Create(std::string& error) {
  if (fd_ >= 0) return true;
  temp_ = path_ + ".tmpXXXXXX";
  // mkostemp opens a name nobody had with O_EXCL, mode 0600: a link or file planted
  // beside the path can neither be taken over nor receive the content.
  fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    error = Describe("cannot create a temporary file in", FolderOf(path_));
    return false;
  }
  return true;
}

bool FileReplacement::Write(std::string_view data, std::string& error) {
  if (fd_ < 0) {
    error = "no temporary file for " + path_;
    return false;
  }
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      error = Describe("cannot write", temp_);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool FileReplacement::Commit(mode_t mode, std::string& error, int* keepFd) {
  if (fd_ < 0) {
    error = "no temporary file for " + path_;
    return false;
  }
  if (::fchmod(fd_, mode) != 0) {
    error = Describe("cannot set the mode of", temp_);
    return false;
  }
  if (::fsync(fd_) != 0) {
    error = Describe("cannot flush", temp_);
    return false;
  }
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    error = Describe("cannot rename " + temp_ + " to", path_);
    return false;
  }
  // Make the rename itself durable.
  const int dirFd = ::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  if (keepFd != nullptr) {
    *keepFd = fd_;
  } else {
    ::close(fd_);
  }
  fd_ = -1;
  return true;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

bool FileLock::Acquire(const std::string& lockPath, bool exclusive, int timeoutMs,
                       std::string& error) {
  // Never through a link (a link planted at the name would create or lock a file
  // elsewhere), and no wait on a FIFO; a lock file made by another user that this
  // one cannot write is still locked through a read-only descriptor.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  if (fd_ < 0 && errno != ELOOP) fd_ = ::open(lockPath.c_str(), O_RDONLY | kFlags);
  if (fd_ < 0) {
    error = Describe("cannot open the lock file", lockPath);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    error = "the lock file " + lockPath + " is not a regular file";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::microseconds(200);
  while (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error = Describe("cannot lock", lockPath);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "timed out waiting for the lock on " + lockPath;
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(10'000));
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& out,
                   std::string& error, bool* missing) {
  out.clear();
  if (missing != nullptr) *missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT && missing != nullptr) {
      *missing = true;
      return true;
    }
    error = Describe("cannot open", path);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path + " is not a regular file";
    return false;
  }
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Describe("cannot read", path);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace qmos
