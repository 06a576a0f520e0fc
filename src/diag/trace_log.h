// The trace log: one text file of time-stamped lines that every thread of the
// plug-in writes to. Its size is bounded: once it reaches its limit, new lines
// overwrite the oldest from the top of the file behind a warning line, and the place
// of the next line is remembered across runs in the registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantiro {

// The trace switch: true at load until ReadTraceSettings runs. Every trace call
// site tests it before writing.
bool TraceEnabled();

// Reads the trace settings under HKEY_LOCAL_MACHINE\SOFTWARE\Quillmere\Viewer\Settings
// (creating the key) and returns the trace file's path ("TraceFilesDir" followed by
// "\VantiroBackend.out", in Windows form). Sets the switch, the removal flag, the
// size limit and the write position; writes back the defaults of a missing size
// limit or position.
std::string ReadTraceSettings();

// Points the log at path (Windows form), creates its locks, deletes the file when the
// removal flag is set, bounds the size limit and marks the log opened.
void OpenTraceLog(std::string_view path);

// Appends one line (time stamp, text, line feed) under the trace lock, opening the
// log lazily on its current path. Does not test the switch; callers do.
void WriteTrace(std::string_view text);

// Formats like printf and writes the line when the switch is on.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats like printf and writes the line whatever the switch says.
void TraceAlways(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Marks the log not opened (the next line opens it again).
void CloseTraceLog();

// Writes the write position back to the registry; errors are swallowed.
void SaveTracePosition();

}  // namespace vantiro
