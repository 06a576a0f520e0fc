#include "registry/posix/reg_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qmos::reg {

namespace {

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
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
  // Non-blocking, so that a FIFO in the file's place cannot hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

}  // namespace qmos::reg
