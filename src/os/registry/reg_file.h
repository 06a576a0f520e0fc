// File helpers of the registry store: bounded whole-file reads, atomic replace
// (temporary file in the same folder, fsync, rename), folder creation and
// advisory locks with a bounded wait.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qmos::reg {

// What makes a file's content the one seen before: same inode, size and mtime.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(int fd, FileIdentity& id);

// Reads from fd to its end; fails when more than maxBytes are there.
bool ReadAll(int fd, std::size_t maxBytes, std::string& out, std::string& error);

// Reads a whole file by name, with the same bound.
bool ReadFile(const std::string& path, std::size_t maxBytes, std::string& out, std::string& error);

// Creates the folder and its parents (like mkdir -p).
bool MakeFolders(const std::string& folder, std::string& error);

std::string FolderOf(const std::string& path);

// Writes data to a temporary file beside path, flushes it to disk and renames it
// over path, so that readers see either the old or the new content. mode applies
// to the new file. On success, *keepFd (when given) receives an open descriptor
// of the new file; otherwise nothing is left behind.
bool ReplaceFile(const std::string& path, std::string_view data, mode_t mode, std::string& error,
                 int* keepFd = nullptr);

// An flock on a sibling lock file, released on destruction.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits at most timeoutMs for the lock; creates the lock file when missing.
  bool Acquire(const std::string& lockPath, bool exclusive, int timeoutMs, std::string& error);

 private:
  int fd_ = -1;
};

}  // namespace qmos::reg
