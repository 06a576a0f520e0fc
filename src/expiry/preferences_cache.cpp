#include "expiry/preferences_cache.h"

#include <cstdio>
#include <cstring>

#include "diag/trace_log.h"
#include "qmos/file_replace.h"
#include "qmos/paths.h"

namespace vantiro {

namespace {

constexpr std::size_t kLargestNumber = 9999;
// How long a write waits for another process writing the same cache.
constexpr int kLockTimeoutMs = 2000;

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
  // A count that does not fit its field leaves no file its readers could parse.
  const std::string number = CacheNumber(static_cast<std::size_t>(kept));
  if (number.empty()) return std::string();
  return number + entries;
}

int WritePreferencesCache(const std::string& path, HASHTABLE* table) {
  Trace("PasswordValidation:connectToMC() trying to write preferences to file:%s", path.c_str());
  const std::string file = qmos::FromWindowsPath(path);
  // The old cache stays until the new one replaces it whole: the new one is written
  // to a fresh temporary file beside it, under the cache's lock.
  std::string error;
  qmos::FileLock lock;
  qmos::FileReplacement replacement(file);
  const bool created = lock.Acquire(qmos::LockPathOf(file), true, kLockTimeoutMs, error) &&
                       replacement.Create(error);
  Trace("PasswordValidation::connecttomc()...write Put_Preferences to cache rc=%i",
        created ? replacement.Fd() : -1);
  if (!created) return -1;

  int written = 0;
  const std::string bytes = PreferencesCacheBytes(table, &written);
  Trace("PasswordValidation::write preferences to file()%d", written);
  if (bytes.empty()) {
    Trace("PasswordValidation::write preferences to file(): %d entries are too many for the cache "
          "file; the cache is left as it was",
          written);
  }
  if (bytes.empty() || !replacement.Write(bytes, error) ||
      !replacement.Commit(0600, error)) {
    Trace("PasswordValidation::connecttomc() impossible to cache on...");
    return -1;
  }
  Trace("PasswordValidation::connecttomc() write to file %i fields done.", written);
  return written;
}

}  // namespace vantiro
