// What both platforms share of the file helpers: a whole replacement in one call,
// where a file's lock lives, and a read-change-replace of a whole file under that lock.
#include "qmos/file_replace.h"

namespace qmos {

bool ReplaceFile(const std::string& path, std::string_view data, mode_t mode, std::string& error,
                 int* keepFd) {
  FileReplacement replacement(path);
  return replacement.Create(error) && replacement.Write(data, error) &&
         replacement.Commit(mode, error, keepFd);
}

std::string LockPathOf(const std::string& path) { return path + ".lock"; }

bool UpdateFile(const std::string& path, std::size_t maxBytes, mode_t mode, int lockTimeoutMs,
                const std::function<bool(std::string& text, std::string& error)>& change,
                std::string& error) {
  FileLock lock;
  if (!lock.Acquire(LockPathOf(path), true, lockTimeoutMs, error)) return false;
  std::string text;
  bool missing = false;
  if (!ReadWholeFile(path, maxBytes, text, error, &missing)) return false;
  if (!change(text, error)) return false;
  return ReplaceFile(path, text, mode, error);
}

}  // namespace qmos
