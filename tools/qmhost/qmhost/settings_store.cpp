#include "qmhost/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

namespace qmhost {

namespace {

using Json = nlohmann::ordered_json;

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = SystemError("cannot create", temp);
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = SystemError("cannot write", temp);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    error = SystemError("cannot write", temp);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = SystemError("cannot replace", path);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string SettingsStore::Serialize(const AllSettings& settings) {
  Json root = Json::object();
  for (const auto& [plugin, values] : settings) {
    Json entry = Json::object();
    for (const auto& [key, value] : values) entry[key] = value;
    root[plugin] = std::move(entry);
  }
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool SettingsStore::Parse(const std::string& text, AllSettings& settings, std::string& error) {
  settings.clear();
  // An empty file is an empty store (a file created by hand with touch).
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return true;
  const Json root = Json::parse(text, nullptr, false);
  if (root.is_discarded()) {
    error = "not valid JSON";
    return false;
  }
  if (!root.is_object()) {
    error = "expected an object of plug-ins";
    return false;
  }
  for (const auto& [plugin, values] : root.items()) {
    if (!values.is_object()) {
      error = "the settings of " + plugin + " are not an object";
      return false;
    }
    PluginSettings& target = settings[plugin];
    for (const auto& [key, value] : values.items()) {
      if (!value.is_string()) {
        error = "setting \"" + key + "\" of " + plugin + " is not a text";
        return false;
      }
      target[key] = value.get<std::string>();
    }
  }
  return true;
}

bool SettingsStore::Open(const std::string& path, std::string& error) {
  AllSettings loaded;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    std::string text;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = SystemError("cannot read", path);
        ::close(fd);
        return false;
      }
      if (n == 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::string reason;
    if (!Parse(text, loaded, reason)) {
      error = "settings file " + path + " is not usable (" + reason + "); it is left as it is";
      return false;
    }
  } else if (errno != ENOENT) {
    error = SystemError("cannot open", path);
    return false;
  } else if (!WriteFileAtomically(path, Serialize(loaded), error)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = std::move(loaded);
  path_ = path;
  return true;
}

bool SettingsStore::Persistent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !path_.empty();
}

std::optional<std::string> SettingsStore::Get(const std::string& plugin,
                                              const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto entry = settings_.find(plugin);
  if (entry == settings_.end()) return std::nullopt;
  const auto value = entry->second.find(key);
  if (value == entry->second.end()) return std::nullopt;
  return value->second;
}

bool SettingsStore::Put(const std::string& plugin, const std::string& key,
                        const std::string& value, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_[plugin][key] = value;
  return SaveLocked(error);
}

bool SettingsStore::Delete(const std::string& plugin, const std::string& key, bool& existed,
                           std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  existed = false;
  const auto entry = settings_.find(plugin);
  if (entry != settings_.end()) existed = entry->second.erase(key) > 0;
  if (!existed) return true;
  return SaveLocked(error);
}

SettingsStore::AllSettings SettingsStore::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

bool SettingsStore::SaveLocked(std::string& error) const {
  if (path_.empty()) return true;
  return WriteFileAtomically(path_, Serialize(settings_), error);
}

}  // namespace qmhost
