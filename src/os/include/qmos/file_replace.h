// Replacing a whole file in a folder that other users may write to: the new content
// goes into a temporary file that mkostemp creates beside the file (a fresh name,
// opened exclusively, readable by its owner only), is flushed to disk and renamed
// over the path, and the folder is flushed so that the rename lasts. Readers see the
// old file or the new one, never a part; a link planted at any name is replaced,
// never written through. Writers of one file take turns through a lock file beside
// it, and UpdateFile lets each read the file again under that lock, so that a change
// made by another process in the meantime is kept.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qmos {

// The folder of path ("." for a bare name).
std::string FolderOf(const std::string& path);

// One replacement of the file at path: Create makes the temporary file, Write fills
// it, Commit puts it in the file's place. Destroyed without a successful Commit, the
// temporary file is removed and the file at path stays as it was.
class FileReplacement {
 public:
  explicit FileReplacement(std::string path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates the temporary file beside the path. False with the reason when it cannot.
  bool Create(std::string& error);
  // The temporary file's descriptor (-1 before Create).
  int Fd() const { return fd_; }
  bool Write(std::string_view data, std::string& error);
  // Gives the file mode, flushes it, renames it over the path and flushes the
  // folder. On success *keepFd (when given) receives the open descriptor of the new
  // file, which the caller then closes.
  bool Commit(mode_t mode, std::string& error, int* keepFd = nullptr);

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
};

// Create, Write and Commit in one call.
bool ReplaceFile(const std::string& path, std::string_view data, mode_t mode, std::string& error,
                 int* keepFd = nullptr);

// An flock on a lock file (created when missing, never through a link, only a
// regular file), released on destruction.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits at most timeoutMs for the lock.
  bool Acquire(const std::string& lockPath, bool exclusive, int timeoutMs, std::string& error);

 private:
  int fd_ = -1;
};

// The lock file that guards path.
std::string LockPathOf(const std::string& path);

// Reads the regular file at path whole, at most maxBytes; anything else at the path
// (a FIFO, whose open does not wait, a folder, a device) is refused. *missing (when
// given) tells a file that is not there, which is then an empty text and no failure.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& out,
                   std::string& error, bool* missing = nullptr);

// Under the exclusive lock of path (waiting at most lockTimeoutMs): reads the file
// (empty when missing), lets change turn its text into the new one (false with a
// reason: nothing is written), and replaces the file with the result in mode.
bool UpdateFile(const std::string& path, std::size_t maxBytes, mode_t mode, int lockTimeoutMs,
                const std::function<bool(std::string& text, std::string& error)>& change,
                std::string& error);

}  // namespace qmos
