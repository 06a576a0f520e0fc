#include "qmhost/settings_store.h"

#include <nlohmann/json.hpp>

#include "qmos/file_replace.h"

namespace qmhost {

namespace {

using Json = nlohmann::ordered_json;

// Bounds of the file: what a settings file may hold, and how long a write waits
// for another host that is writing the same file.
constexpr std::size_t kMaxFileBytes = 16u << 20;
constexpr int kLockTimeoutMs = 5000;
// The file holds passwords: readable and writable by its owner only (on Windows an
// access list for the user and SYSTEM only).
constexpr mode_t kFileMode = 0600;

}  // namespace

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
  std::string text;
  bool missing = false;
  if (!qmos::ReadWholeFile(path, kMaxFileBytes, text, error, &missing)) return false;
  if (missing) {
    // Created under the lock; a host that created it first is read, not overwritten.
    if (!UpdateLocked(path, loaded, [](AllSettings&) {}, error)) return false;
  } else {
    std::string reason;
    if (!Parse(text, loaded, reason)) {
      error = "settings file " + path + " is not usable (" + reason + "); it is left as it is";
      return false;
    }
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
  if (path_.empty()) return true;
  AllSettings merged;
  if (!UpdateLocked(path_, merged, [&](AllSettings& s) { s[plugin][key] = value; }, error)) {
    return false;
  }
  settings_ = std::move(merged);
  return true;
}

bool SettingsStore::Delete(const std::string& plugin, const std::string& key, bool& existed,
                           std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  existed = false;
  const auto entry = settings_.find(plugin);
  if (entry != settings_.end()) existed = entry->second.erase(key) > 0;
  if (path_.empty()) return true;
  AllSettings merged;
  const bool saved = UpdateLocked(
      path_, merged,
      [&](AllSettings& s) {
        const auto found = s.find(plugin);
        if (found != s.end() && found->second.erase(key) > 0) existed = true;
      },
      error);
  if (!saved) return false;
  settings_ = std::move(merged);
  return true;
}

SettingsStore::AllSettings SettingsStore::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

bool SettingsStore::UpdateLocked(const std::string& path, AllSettings& merged,
                                 const std::function<void(AllSettings&)>& change,
                                 std::string& error) {
  // Under the file's lock: what the file holds now (another host may have changed
  // it since this one read it), with this change applied, replaces it.
  return qmos::UpdateFile(
      path, kMaxFileBytes, kFileMode, kLockTimeoutMs,
      [&](std::string& text, std::string& reason) {
        std::string why;
        if (!Parse(text, merged, why)) {
          reason = "settings file " + path + " is not usable (" + why + "); it is left as it is";
          return false;
        }
        change(merged);
        text = Serialize(merged);
        return true;
      },
      error);
}

}  // namespace qmhost
