// Each plug-in's settings (key -> text), by the plug-in's class identifier. Kept in
// memory, or persisted in a JSON file that is rewritten atomically after every
// change:  { "{CLSID}": { "key": "value", ... }, ... }
// Safe to use from any thread. Several hosts may share one file: a change is made
// under the file's lock to what the file holds at that moment, so that none of
// them loses another's change; each host then holds the merged settings.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace qmhost {

class SettingsStore {
 public:
  // Settings in memory only.
  SettingsStore() = default;

  // Persists the settings in path from now on: loads the file, or creates it when
  // it does not exist. False with the reason when the file cannot be read, is not a
  // settings file, or cannot be created; the store then stays in memory only and the
  // file is left as it was (never overwritten with less than it held).
  bool Open(const std::string& path, std::string& error);
  bool Persistent() const;

  std::optional<std::string> Get(const std::string& plugin, const std::string& key) const;
  // Put and Delete change the settings in memory and then persist them: the change
  // is applied to what the file holds under its lock, and the store then holds the
  // result. False with the reason when the file could not be written (the change is
  // kept in memory, the file is left as it was).
  bool Put(const std::string& plugin, const std::string& key, const std::string& value,
           std::string& error);
  // existed tells whether the key had a value.
  bool Delete(const std::string& plugin, const std::string& key, bool& existed,
              std::string& error);

  using PluginSettings = std::map<std::string, std::string>;
  using AllSettings = std::map<std::string, PluginSettings>;
  AllSettings Snapshot() const;

  // The file's text for these settings, and the settings in a file's text.
  static std::string Serialize(const AllSettings& settings);
  static bool Parse(const std::string& text, AllSettings& settings, std::string& error);

 private:
  // Applies change to the settings the file at path holds, under its lock, writes
  // them back and leaves them in merged.
  static bool UpdateLocked(const std::string& path, AllSettings& merged,
                           const std::function<void(AllSettings&)>& change, std::string& error);

  mutable std::mutex mutex_;
  AllSettings settings_;
  std::string path_;  // empty: memory only
};

}  // namespace qmhost
