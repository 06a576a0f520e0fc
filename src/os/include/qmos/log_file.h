// Log files that lines are added to in a folder other users may write to (the trace
// log, the performance log). Such a file holds call data, so a line is written only
// into this user's own plain file: never through a symbolic link (on Windows, nor a
// junction or mount point), never into a FIFO, device or folder, nor into a file of
// another user's or one with a second name (a hard link) through which someone else
// could read it. A file made here is readable and writable by its owner only
// (Windows: an access list for the user and SYSTEM). No open waits for a FIFO's
// reader. The caller opens, writes and closes the file for each line, so no handle
// stays open between lines.
//
// One object owns one open file (at most) and closes it when destroyed; an object
// is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qmos {

enum class LogOpen {
  Opened,
  Missing,  // OpenExisting: nothing at the path
  Exists,   // CreateNew: something at the path already (a link included)
  Failed,   // anything else: a link at the path, a missing folder, no access
};

class LogFile {
 public:
  LogFile() = default;
  ~LogFile() { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens the file at path (a path of this system) for writing at offsets.
  LogOpen OpenExisting(const std::string& path);
  // Creates the file at path, private to this user.
  LogOpen CreateNew(const std::string& path);
  // Opens the file at path for adding at its end, creating it (private to this
  // user) when there is none.
  LogOpen OpenForAppend(const std::string& path);

  // Whether the open file may be written: a plain file on disk, owned by this
  // process's user, with no second name. *size (when given) receives its size.
  // A file just created here needs no check.
  bool Usable(std::int64_t* size = nullptr) const;

  // Writes bytes at offset (a file opened for adding: at its end, whatever offset
  // says). A write error drops the rest. Returns the number of bytes written.
  std::size_t Write(std::string_view bytes, std::int64_t offset);

  bool IsOpen() const { return handle_ != kNone; }
  // Closes the file; safe to call again.
  void Close();

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // the system's descriptor or handle
  bool append_ = false;
};

// Deletes the log file at path (a link at the path: the link); a missing file is no
// error.
void RemoveLogFile(const std::string& path);

}  // namespace qmos
