// File helpers of the registry store: bounded whole-file reads and folder creation.
// The atomic replace and the lock file are libqmos's (qmos/file_replace.h).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "qmos/file_replace.h"

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

using qmos::FileLock;
using qmos::FolderOf;
using qmos::ReplaceFile;

}  // namespace qmos::reg
