// Log files on POSIX systems: opened without following a symbolic link
// (O_NOFOLLOW) and without waiting for a FIFO's reader (O_NONBLOCK), made with
// O_EXCL and mode 0600, checked with fstat, written with pwrite.
#include "qmos/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qmos {

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

LogOpen LogFile::OpenExisting(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? LogOpen::Missing : LogOpen::Failed;
  handle_ = fd;
  return LogOpen::Opened;
}

LogOpen LogFile::CreateNew(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? LogOpen::Exists : LogOpen::Failed;
  handle_ = fd;
  return LogOpen::Opened;
}

LogOpen LogFile::OpenForAppend(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return LogOpen::Failed;
  handle_ = fd;
  append_ = true;
  return LogOpen::Opened;
}

bool LogFile::Usable(std::int64_t* size) const {
  struct stat st {};
  if (!IsOpen() || ::fstat(Fd(handle_), &st) != 0) return false;
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink > 1) return false;
  if (size != nullptr) *size = static_cast<std::int64_t>(st.st_size);
  return true;
}

// Only a file can be written at an offset: a FIFO, socket or terminal refuses
// (ESPIPE), so nothing reaches one of those even when it opened. With O_APPEND the
// bytes go to the end of the file whatever the offset says.
std::size_t LogFile::Write(std::string_view bytes, std::int64_t offset) {
  std::size_t written = 0;
  while (IsOpen() && written < bytes.size()) {
    const ssize_t n = ::pwrite(Fd(handle_), bytes.data() + written, bytes.size() - written,
                               static_cast<off_t>(offset) + static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  return written;
}

void LogFile::Close() {
  if (!IsOpen()) return;
  ::close(Fd(handle_));
  handle_ = kNone;
  append_ = false;
}

void RemoveLogFile(const std::string& path) { std::remove(path.c_str()); }

}  // namespace qmos
