// The process-wide registry store: the parsed registry file, cached and shared
// by every thread of the process under one mutex, re-read only when the file
// changed, and written back atomically under an exclusive file lock so that
// several processes can share the file.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "registry/posix/reg_file.h"
#include "registry/posix/reg_tree.h"

namespace qmos::reg {

class RegStore {
 public:
  // The one store of the process.
  static RegStore& Instance();

  std::string File();
  void SetFile(std::string path);

  // Runs read on the current registry. False, without running it, when the file
  // cannot be read or parsed (error says why).
  bool Read(const std::function<void(const RegTree&)>& read, std::string* error = nullptr);

  // Runs change on the current registry, under the exclusive file lock, and
  // writes the file when change sets changed. False when the file cannot be
  // read, parsed or written, or when change returns false (setting error); the
  // file is then left as it was.
  using Change = std::function<bool(RegTree&, bool& changed, std::string& error)>;
  bool Write(const Change& change, std::string* error = nullptr);

  RegStore() = default;
  ~RegStore();
  RegStore(const RegStore&) = delete;
  RegStore& operator=(const RegStore&) = delete;

 private:
  enum class State { None, Missing, Loaded, Corrupt };

  std::string FileLocked() const;
  bool Load(const std::string& path, std::string& error);
  void DropCache();

  std::mutex mutex_;
  std::string overridePath_;

  std::string cachedPath_;
  State state_ = State::None;
  // Kept open so that the cached file's inode cannot be reused by a new file,
  // which keeps the identity check sound.
  int cachedFd_ = -1;
  FileIdentity cachedId_;
  std::unique_ptr<RegTree> tree_;
  std::string corruptReason_;
};

}  // namespace qmos::reg
