// The trace log's settings in the registry, under HKEY_LOCAL_MACHINE
// "SOFTWARE\Quillmere\Viewer\Settings": where the file lies, whether tracing is on,
// whether the file is deleted at open, its size limit and the place of the next
// wrapped line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantiro {

inline constexpr const char* kTraceSettingsKey = "SOFTWARE\\Quillmere\\Viewer\\Settings";
inline constexpr const char* kTraceFileName = "VantiroBackend.out";
// The largest size limit; a configured limit of 0, below 0 or at least this much
// is replaced by it when the log is opened.
inline constexpr std::int32_t kTraceMaxSizeCeiling = 10485760;

struct TraceSettings {
  std::string directory;            // "TraceFilesDir", Windows form
  bool enabled = false;             // "TraceEnabled" non-zero
  std::int32_t removeTraceFiles = 0;  // "RemoveTraceFiles"
  std::int32_t maxSize = 0;         // "maxfilesize_vtbackend", not yet bounded
  std::int32_t writePosition = 0;   // "logfileposition_vtbackend"
};

// Reads the five values, each on its own: a value that cannot be read takes its
// default. A missing or non-integer size limit or position is written back as 0.
// The key is created when missing; when the registry cannot be used at all, every
// value takes its default.
TraceSettings LoadTraceSettings();

// The trace file in directory: directory + "\VantiroBackend.out" (Windows form).
std::string TraceFilePathIn(std::string_view directory);

// The limit in force for a configured one.
std::int32_t BoundTraceMaxSize(std::int32_t configured);

// Writes "logfileposition_vtbackend"; false when the registry cannot be written.
bool StoreTraceWritePosition(std::int32_t position);

}  // namespace vantiro
