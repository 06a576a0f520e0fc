#include "registry/posix/reg_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "registry/reg_text.h"

namespace qmos::reg {

namespace {

// Bounded waits for the file lock: a writer holds it only while it writes.
constexpr int kWriteLockTimeoutMs = 30'000;
constexpr int kReadLockTimeoutMs = 10'000;

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = NonEmptyEnv("HOME");
  if (!home.empty()) return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/tmp";
}

// The file that writes go to: symbolic links are followed, so that a linked
// registry file stays linked.
std::string WriteTarget(const std::string& path) {
  char resolved[PATH_MAX];
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
      ::realpath(path.c_str(), resolved) != nullptr) {
    return resolved;
  }
  return path;
}

}  // namespace

RegStore& RegStore::Instance() {
  // Never destroyed: threads of plug-ins may still read the registry while the
  // process exits.
  static RegStore* store = new RegStore();
  return *store;
}

RegStore::~RegStore() { DropCache(); }

std::string RegStore::File() {
  std::lock_guard<std::mutex> guard(mutex_);
  return FileLocked();
}

void RegStore::SetFile(std::string path) {
  std::lock_guard<std::mutex> guard(mutex_);
  overridePath_ = std::move(path);
}

std::string RegStore::FileLocked() const {
  if (!overridePath_.empty()) return overridePath_;
  std::string path = NonEmptyEnv("QUILLMERE_REGISTRY");
  if (!path.empty()) return path;
  std::string config = NonEmptyEnv("XDG_CONFIG_HOME");
  if (config.empty()) config = HomeFolder() + "/.config";
  return config + "/quillmere/registry.reg";
}

void RegStore::DropCache() {
  if (cachedFd_ >= 0) ::close(cachedFd_);
  cachedFd_ = -1;
  state_ = State::None;
  tree_.reset();
  cachedPath_.clear();
  corruptReason_.clear();
}

bool RegStore::Load(const std::string& path, std::string& error) {
  // Non-blocking, so that a FIFO in the file's place cannot hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT) {
      error = "cannot open the registry file " + path + ": " + std::strerror(errno);
      DropCache();
      return false;
    }
    if (state_ != State::Missing || cachedPath_ != path || !tree_) {
      DropCache();
      tree_ = std::make_unique<RegTree>();
      cachedPath_ = path;
      state_ = State::Missing;
    }
    return true;
  }
  FileIdentity id;
  struct stat st {};
  if (!IdentityOf(fd, id) || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = "the registry file " + path + " is not a regular file";
    DropCache();
    return false;
  }
  if ((state_ == State::Loaded || state_ == State::Corrupt) && cachedPath_ == path &&
      id == cachedId_) {
    ::close(fd);
    if (state_ == State::Corrupt) error = corruptReason_;
    return state_ == State::Loaded;
  }
  DropCache();
  cachedPath_ = path;
  cachedFd_ = fd;
  cachedId_ = id;

  std::string bytes;
  std::string reason;
  std::vector<RegKeyOp> ops;
  RegTextError parseError;
  auto tree = std::make_unique<RegTree>();
  if (static_cast<std::size_t>(st.st_size) > kMaxRegFileBytes) {
    reason = "file larger than " + std::to_string(kMaxRegFileBytes >> 20) + " MiB";
  } else if (!ReadAll(fd, kMaxRegFileBytes, bytes, reason)) {
    // A failed read may pass; it is not remembered as a fault of this file.
    error = "cannot read the registry file " + path + ": " + reason;
    DropCache();
    return false;
  } else if (!ParseRegBytes(bytes, ops, parseError)) {
    reason = parseError.ToString();
  } else if (!tree->Apply(ops, reason)) {
    // reason set by Apply
  } else {
    tree_ = std::move(tree);
    state_ = State::Loaded;
    return true;
  }
  state_ = State::Corrupt;
  corruptReason_ = "the registry file " + path + " cannot be used: " + reason;
  error = corruptReason_;
  return false;
}

bool RegStore::Read(const std::function<void(const RegTree&)>& read, std::string* error) {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::string path = FileLocked();
  std::string reason;
  // Readers lock only to wait out a writer in progress; the rename already makes
  // every read see a whole file, so a lock that cannot be had is not an error.
  FileLock lock;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    lock.Acquire(path + ".lock", false, kReadLockTimeoutMs, reason);
  }
  if (!Load(path, reason)) {
    if (error) *error = reason;
    return false;
  }
  read(*tree_);
  return true;
}

bool RegStore::Write(const Change& change, std::string* error) {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::string path = WriteTarget(FileLocked());
  std::string reason;
  const auto fail = [&]() {
    if (error) *error = reason;
    return false;
  };
  if (!MakeFolders(FolderOf(path), reason)) return fail();
  FileLock lock;
  if (!lock.Acquire(path + ".lock", true, kWriteLockTimeoutMs, reason)) return fail();
  if (!Load(path, reason)) return fail();

  bool changed = false;
  if (!change(*tree_, changed, reason)) {
    DropCache();  // the change may have been applied in part
    return fail();
  }
  if (!changed) return true;

  std::string text = FormatRegHeader();
  FormatKeyTree(tree_->Hive(RegRoot::LocalMachine), "HKEY_LOCAL_MACHINE", false, text);
  FormatKeyTree(tree_->Hive(RegRoot::CurrentUser), "HKEY_CURRENT_USER", false, text);
  // The new file keeps the mode given to the old one.
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  int newFd = -1;
  if (!ReplaceFile(path, text, mode, reason, &newFd)) {
    DropCache();
    return fail();
  }
  FileIdentity id;
  if (!IdentityOf(newFd, id)) {
    ::close(newFd);
    DropCache();
    return true;  // written; the next access reads it again
  }
  if (cachedFd_ >= 0) ::close(cachedFd_);
  cachedFd_ = newFd;
  cachedId_ = id;
  state_ = State::Loaded;
  return true;
}

}  // namespace qmos::reg
