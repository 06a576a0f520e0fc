// The trace log: one text file of time-stamped lines that every thread of the
// plug-in writes to. Its size is bounded: once it reaches its limit, new lines
// overwrite the oldest from the top of the file behind a warning line, and the place
// of the next line is remembered across runs in the registry.
//
// The log's state is process-wide and guarded by the trace lock. The trace lock and
// the performance log's lock live as long as the process (or the module): opening
// and closing the log only flip its opened flag, so a thread that writes while
// another closes the log, or after it was closed, never meets a destroyed lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmos {
class CriticalSection;
}

namespace vantiro {

// The log's path until it is opened on the configured one (Windows form).
inline constexpr const char* kInitialTraceLogPath =
    "\\Program Files\\Quillmere\\Client\\Logs\\tmp.out";

// The trace switch: true at load until ReadTraceSettings runs. Every trace call
// site tests it before writing.
bool TraceEnabled();
void SetTraceEnabled(bool enabled);

// Reads the trace settings under HKEY_LOCAL_MACHINE\SOFTWARE\Quillmere\Viewer\Settings
// (creating the key) and returns the trace file's path ("TraceFilesDir" followed by
// "\VantiroBackend.out", in Windows form). Sets the switch, the removal flag, the
// size limit and the write position; writes back the defaults of a missing size
// limit or position.
std::string ReadTraceSettings();

// Points the log at path (Windows form, kept whole whatever its length), deletes
// the file when the removal flag is set (clearing it and restarting the write
// position at 0), bounds the size limit and marks the log opened.
void OpenTraceLog(std::string_view path);

// Appends one line (time stamp, text, line feed) under the trace lock, opening the
// log lazily on its current path. Does not test the switch; callers do. Never
// throws: a line that cannot be written is dropped.
void WriteTrace(std::string_view text);

// Formats like printf and writes the line when the switch is on.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats like printf and writes the line whatever the switch says.
void TraceAlways(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Marks the log not opened (the next line opens it again).
void CloseTraceLog();

// Writes the write position back to the registry; errors are swallowed.
void SaveTracePosition();

// The state of the log, read under the trace lock.
std::string TraceFilePath();          // from the last ReadTraceSettings ("" before)
std::string TraceLogPath();           // where the next line goes (Windows form)
std::string TraceLogSystemPath();     // the same, as a path of this system
bool TraceLogOpened();
std::int32_t TraceMaxSize();          // bounded once the log is opened
std::int32_t TraceWritePosition();
bool TraceRemovalPending();           // the file is still to be deleted

// The performance log's lock, alive for the process like the trace lock.
qmos::CriticalSection& PerfLock();

}  // namespace vantiro
