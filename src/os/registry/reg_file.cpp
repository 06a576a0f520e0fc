#include "reg_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace qmos::reg {

namespace {

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAllTo(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool IdentityOf(int fd, FileIdentity& id) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  return true;
}

bool ReadAll(int fd, std::size_t maxBytes, std::string& out, std::string& error) {
  out.clear();
  std::vector<char> buffer(64 * 1024);
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::string("read failed: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
      error = "file larger than " + std::to_string(maxBytes >> 20) + " MiB";
      return false;
    }
    out.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

bool ReadFile(const std::string& path, std::size_t maxBytes, std::string& out, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = Describe("cannot open", path);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path + " is not a regular file";
    return false;
  }
  const bool ok = ReadAll(fd, maxBytes, out, error);
  ::close(fd);
  return ok;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool MakeFolders(const std::string& folder, std::string& error) {
  std::string partial;
  std::size_t pos = 0;
  while (pos <= folder.size()) {
    std::size_t end = folder.find('/', pos);
    if (end == std::string::npos) end = folder.size();
    partial = folder.substr(0, end);
    pos = end + 1;
    if (partial.empty() || partial == "." || partial == "..") continue;
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      error = Describe("cannot create folder", partial);
      return false;
    }
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = folder + " is not a folder";
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view data, mode_t mode, std::string& error,
                 int* keepFd) {
  const std::string folder = FolderOf(path);
  std::string temp = path + ".tmpXXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = Describe("cannot create a temporary file in", folder);
    return false;
  }
  const auto fail = [&](const std::string& what) {
    error = Describe(what, temp);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  if (!WriteAllTo(fd, data)) return fail("cannot write");
  if (::fchmod(fd, mode) != 0) return fail("cannot set the mode of");
  if (::fsync(fd) != 0) return fail("cannot flush");
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot rename");
  // Make the rename itself durable.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  if (keepFd != nullptr) {
    *keepFd = fd;
  } else {
    ::close(fd);
  }
  return true;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

bool FileLock::Acquire(const std::string& lockPath, bool exclusive, int timeoutMs,
                       std::string& error) {
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error = Describe("cannot open the lock file", lockPath);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::microseconds(200);
  while (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error = Describe("cannot lock", lockPath);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "timed out waiting for the lock on " + lockPath;
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(10'000));
  }
  return true;
}

}  // namespace qmos::reg
