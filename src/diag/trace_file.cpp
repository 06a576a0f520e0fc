#include "diag/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "diag/trace_line.h"

namespace vantiro {

namespace {

// Writes bytes at offset; a write error drops the rest. What was written. Only a
// file can be written at an offset: a FIFO, socket or terminal refuses (ESPIPE), so
// nothing reaches one of those even when it opened.
std::size_t WriteAt(int fd, std::string_view bytes, std::int64_t offset) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + written, bytes.size() - written,
                               static_cast<off_t>(offset) + static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  return written;
}

// The line as it goes into the file: stamp, text, line feed, behind the warning
// line when there is one. One write puts it all in place.
std::string LineBytes(std::string_view warning, std::string_view stamp, std::string_view text) {
  std::string bytes;
  bytes.reserve(warning.size() + stamp.size() + text.size() + 1);
  bytes.append(warning).append(stamp).append(text).push_back('\n');
  return bytes;
}

// Opens the existing trace file for writing. A symbolic link at the path is not
// followed (the file holds call data that must not be written through a link), and
// the open does not wait for a FIFO's reader. -1 with errno set when it cannot be
// opened (ENOENT: there is none).
int OpenExisting(const std::string& filePath) {
  return ::open(filePath.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

// Creates the trace file, readable and writable by its owner only. -1 with errno
// set when it cannot be created (EEXIST: another writer created it first).
int CreateNew(const std::string& filePath) {
  return ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

// The offset as a write position; one beyond the 32-bit range starts over at 0.
std::int32_t PositionOf(std::int64_t offset) {
  if (offset < 0 || offset > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(offset);
}

}  // namespace

bool OpenedFileUsable(int fd, std::int64_t* size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink > 1) return false;
  if (size != nullptr) *size = static_cast<std::int64_t>(st.st_size);
  return true;
}

void WriteTraceFileLine(const std::string& filePath, const qmos::LocalTime& time,
                        std::string_view text, TraceFileState& state) {
  const std::string stamp = FormatTraceStamp(time);
  int fd = OpenExisting(filePath);
  if (fd < 0) {
    if (errno != ENOENT) return;
    fd = CreateNew(filePath);
    if (fd >= 0) {
      // A new file: the line is its first content.
      const std::size_t written = WriteAt(fd, LineBytes({}, stamp, text), 0);
      state.writePosition = PositionOf(static_cast<std::int64_t>(written));
      ::close(fd);
      return;
    }
    // Another writer created it in the meantime: it is written as an existing file.
    if (errno != EEXIST) return;
    fd = OpenExisting(filePath);
    if (fd < 0) return;
  }

  // The size the file has now: someone may have emptied it since the last line.
  std::int64_t size = 0;
  if (!OpenedFileUsable(fd, &size)) {
    ::close(fd);
    return;
  }
  const TracePlacement placement =
      PlaceTraceLine(size, static_cast<std::int64_t>(stamp.size() + text.size()), state.maxSize,
                     state.writePosition);
  std::int64_t offset = size;
  std::string warning;
  if (placement.wrap) {
    state.writePosition = placement.offset;
    offset = placement.offset;
    if (placement.warning) warning = FormatTraceWarning(time);
  }
  const std::size_t written = WriteAt(fd, LineBytes(warning, stamp, text), offset);
  const std::int64_t end = offset + static_cast<std::int64_t>(written);
  state.writePosition = NextTracePosition(end, state.maxSize);
  ::close(fd);
}

void DeleteTraceFile(const std::string& filePath) { std::remove(filePath.c_str()); }

void AppendFileLine(const std::string& filePath, std::string_view text) {
  const int fd =
      ::open(filePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return;
  // With O_APPEND the line goes to the end of the file whatever the offset says.
  if (OpenedFileUsable(fd)) WriteAt(fd, LineBytes({}, {}, text), 0);
  ::close(fd);
}

}  // namespace vantiro
