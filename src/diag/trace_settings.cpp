#include "diag/trace_settings.h"

#include <optional>

#include "qmos/registry.h"

namespace vantiro {

namespace {

constexpr const char* kDirectoryValue = "TraceFilesDir";
constexpr const char* kEnabledValue = "TraceEnabled";
constexpr const char* kRemoveValue = "RemoveTraceFiles";
constexpr const char* kMaxSizeValue = "maxfilesize_vtbackend";
constexpr const char* kPositionValue = "logfileposition_vtbackend";

std::string ReadDirectory(const qmos::RegKey& key) {
  std::string text;
  switch (key.ReadString(kDirectoryValue, text)) {
    case qmos::RegResult::Ok:
      return text;
    case qmos::RegResult::WrongType:
      return "C:";
    default:
      return "";
  }
}

std::optional<std::uint32_t> ReadInteger(const qmos::RegKey& key, const char* name) {
  std::uint32_t value = 0;
  if (key.ReadDword(name, value) != qmos::RegResult::Ok) return std::nullopt;
  return value;
}

// A size value that cannot be read is used as 0 and created (or replaced) with 0.
std::int32_t ReadSizeOrCreate(qmos::RegKey& key, const char* name) {
  if (auto value = ReadInteger(key, name)) return static_cast<std::int32_t>(*value);
  key.WriteDword(name, 0);
  return 0;
}

}  // namespace

TraceSettings LoadTraceSettings() {
  TraceSettings settings;
  auto key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kTraceSettingsKey, true);
  if (!key) return settings;
  settings.directory = ReadDirectory(*key);
  settings.enabled = ReadInteger(*key, kEnabledValue).value_or(0) != 0;
  settings.removeTraceFiles = static_cast<std::int32_t>(ReadInteger(*key, kRemoveValue).value_or(0));
  settings.maxSize = ReadSizeOrCreate(*key, kMaxSizeValue);
  settings.writePosition = ReadSizeOrCreate(*key, kPositionValue);
  return settings;
}

std::string TraceFilePathIn(std::string_view directory) {
  std::string path(directory);
  path += '\\';
  path += kTraceFileName;
  return path;
}

std::int32_t BoundTraceMaxSize(std::int32_t configured) {
  if (configured <= 0 || configured >= kTraceMaxSizeCeiling) return kTraceMaxSizeCeiling;
  return configured;
}

bool StoreTraceWritePosition(std::int32_t position) {
  auto key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kTraceSettingsKey, true);
  return key && key->WriteDword(kPositionValue, static_cast<std::uint32_t>(position));
}

}  // namespace vantiro
