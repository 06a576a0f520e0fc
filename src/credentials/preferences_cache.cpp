#include "credentials/preferences_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diag/trace_log.h"
#include "qmos/paths.h"

namespace vantiro {

namespace {

constexpr std::size_t kLargestNumber = 9999;

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string CacheNumber(std::size_t number) {
  if (number > kLargestNumber) return std::string();
  char text[8];
  std::snprintf(text, sizeof text, "%4zu", number);
  return text;
}

std::string PreferencesCacheBytes(HASHTABLE* table, int* written) {
  int count = 0;
  const char** keys = HT_keys(table, &count);
  std::string entries;
  int kept = 0;
  for (int i = 0; keys != nullptr && i < count; ++i) {
    const char* value = HT_get_str(table, keys[i]);
    if (value == nullptr) continue;  // a byte block is no preference text
    const std::size_t keyLength = std::strlen(keys[i]);
    const std::size_t valueLength = std::strlen(value);
    if (keyLength > kLargestNumber || valueLength > kLargestNumber) {
      Trace("PasswordValidation::write preferences to file(): the preference [%.64s] is too long for "
            "the cache file and is left out",
            keys[i]);
      continue;
    }
    entries += CacheNumber(keyLength) + keys[i] + CacheNumber(valueLength) + value;
    ++kept;
  }
  if (written) *written = kept;
  return CacheNumber(static_cast<std::size_t>(kept)) + entries;
}

int WritePreferencesCache(const std::string& path, HASHTABLE* table) {
  Trace("PasswordValidation:connectToMC() trying to write preferences to file:%s", path.c_str());
  const std::string file = qmos::FromWindowsPath(path);
  const std::string temporary = file + ".new";
  ::unlink(file.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  Trace("PasswordValidation::connecttomc()...write Put_Preferences to cache rc=%i", fd);
  if (fd < 0) return -1;

  int written = 0;
  const std::string bytes = PreferencesCacheBytes(table, &written);
  Trace("PasswordValidation::write preferences to file()%d", written);
  const bool ok = WriteAll(fd, bytes);
  const bool closed = ::close(fd) == 0;
  if (!ok || !closed || ::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    Trace("PasswordValidation::connecttomc() impossible to cache on...");
    return -1;
  }
  Trace("PasswordValidation::connecttomc() write to file %i fields done.", written);
  return written;
}

}  // namespace vantiro
