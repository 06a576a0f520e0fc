#include "diag/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>

#include "diag/trace_line.h"

namespace vantiro {

namespace {

// fd, opened non-blocking, made blocking when it is a regular file; otherwise it is
// closed and -1 comes back with errno EINVAL (a negative fd comes back as it is).
int KeepRegularFile(int fd) {
  if (fd < 0) return fd;
  struct stat st {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

// Writes piece character by character; a write error drops the rest of it.
void WritePiece(std::FILE* file, std::string_view piece) {
  for (char c : piece) {
    if (std::fputc(static_cast<unsigned char>(c), file) == EOF) return;
  }
}

void WriteLine(std::FILE* file, const std::string& stamp, std::string_view text) {
  WritePiece(file, stamp);
  WritePiece(file, text);
  WritePiece(file, "\n");
}

// The stream's position as a write position; one beyond the 32-bit range (or an
// unknown one) starts over at 0.
std::int32_t PositionOf(std::FILE* file) {
  const long position = std::ftell(file);
  if (position < 0 || position > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(position);
}

// Opens the existing trace file for reading and writing. A symbolic link at the
// path is not followed, and anything but a regular file is refused: the file holds
// call data that must not be written through a link or into a FIFO or device.
// nullptr with errno set when it cannot be opened (ENOENT: there is none).
std::FILE* OpenExisting(const std::string& filePath) {
  // Non-blocking, so that a FIFO at the path cannot hang the open.
  const int fd = KeepRegularFile(::open(filePath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "r+");
  if (file == nullptr) ::close(fd);
  return file;
}

// Creates the trace file, readable and writable by its owner only. nullptr with
// errno set when it cannot be created (EEXIST: another writer created it first).
std::FILE* CreateNew(const std::string& filePath) {
  const int fd = ::open(filePath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "a+");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

void WriteTraceFileLine(const std::string& filePath, const qmos::LocalTime& time,
                        std::string_view text, TraceFileState& state) {
  const std::string stamp = FormatTraceStamp(time);
  std::FILE* file = OpenExisting(filePath);
  if (file == nullptr) {
    if (errno != ENOENT) return;
    file = CreateNew(filePath);
    if (file != nullptr) {
      // A new file: the line is its first content.
      WriteLine(file, stamp, text);
      std::fflush(file);
      state.writePosition = PositionOf(file);
      std::fclose(file);
      return;
    }
    // Another writer created it in the meantime: it is written as an existing file.
    if (errno != EEXIST) return;
    file = OpenExisting(filePath);
    if (file == nullptr) return;
  }

  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size >= 0) {
      const TracePlacement placement =
          PlaceTraceLine(size, static_cast<std::int64_t>(stamp.size() + text.size()),
                         state.maxSize, state.writePosition);
      bool placed = true;
      if (placement.wrap) {
        state.writePosition = placement.offset;
        placed = std::fseek(file, placement.offset, SEEK_SET) == 0;
        if (placed && placement.warning) WritePiece(file, FormatTraceWarning(time));
      }
      if (placed) {
        WriteLine(file, stamp, text);
        std::fflush(file);
        state.writePosition = NextTracePosition(std::ftell(file), state.maxSize);
      }
    }
  }
  std::fflush(file);
  std::fclose(file);
}

void DeleteTraceFile(const std::string& filePath) { std::remove(filePath.c_str()); }

void AppendFileLine(const std::string& filePath, std::string_view text) {
  const int fd = KeepRegularFile(::open(
      filePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
  if (fd < 0) return;
  std::FILE* file = ::fdopen(fd, "a");
  if (file == nullptr) {
    ::close(fd);
    return;
  }
  WritePiece(file, text);
  WritePiece(file, "\n");
  std::fflush(file);
  std::fclose(file);
}

}  // namespace vantiro
