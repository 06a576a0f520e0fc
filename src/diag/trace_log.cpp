#include "diag/trace_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <exception>

#include "diag/format_text.h"
#include "diag/trace_file.h"
#include "diag/trace_settings.h"
#include "qmos/clock.h"
#include "qmos/critical_section.h"
#include "qmos/lasting.h"
#include "qmos/paths.h"

namespace vantiro {

namespace {

std::atomic<bool> g_traceEnabled{true};

struct TraceLogState {
  qmos::CriticalSection traceLock;
  qmos::CriticalSection perfLock;
  // Everything below is guarded by traceLock.
  std::string logPath = kInitialTraceLogPath;
  std::string systemPath = qmos::FromWindowsPath(logPath);  // logPath on this system
  std::string traceFilePath;
  std::int32_t removeTraceFiles = 0;
  TraceFileState file;
  bool opened = false;
};

// Any thread may trace while the process exits.
qmos::Lasting<TraceLogState> g_log;

TraceLogState& Log() { return g_log.Get(); }

// Deletes the file when its removal is pending; the next line starts it afresh.
void RemoveIfPending(TraceLogState& log) {
  if (log.removeTraceFiles == 0) return;
  DeleteTraceFile(log.systemPath);
  log.removeTraceFiles = 0;
  log.file.writePosition = 0;
}

// The caller holds traceLock.
void OpenLocked(TraceLogState& log, std::string_view path) {
  log.logPath.assign(path);
  log.systemPath = qmos::FromWindowsPath(log.logPath);
  RemoveIfPending(log);
  log.file.maxSize = BoundTraceMaxSize(log.file.maxSize);
  log.opened = true;
}

__attribute__((format(printf, 1, 0))) void WriteFormatted(const char* format, va_list args) {
  std::string text;
  try {
    text = FormatTextV(format, args);
  } catch (const std::exception&) {
    return;
  }
  WriteTrace(text);
}

}  // namespace

bool TraceEnabled() { return g_traceEnabled.load(std::memory_order_relaxed); }

void SetTraceEnabled(bool enabled) { g_traceEnabled.store(enabled, std::memory_order_relaxed); }

std::string ReadTraceSettings() {
  const TraceSettings settings = LoadTraceSettings();
  std::string path = TraceFilePathIn(settings.directory);
  TraceLogState& log = Log();
  {
    qmos::CriticalSectionGuard guard(log.traceLock);
    log.traceFilePath = path;
    log.removeTraceFiles = settings.removeTraceFiles;
    log.file.maxSize = settings.maxSize;
    log.file.writePosition = settings.writePosition;
  }
  SetTraceEnabled(settings.enabled);
  return path;
}

void OpenTraceLog(std::string_view path) {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  OpenLocked(log, path);
}

void WriteTrace(std::string_view text) {
  try {
    TraceLogState& log = Log();
    qmos::CriticalSectionGuard guard(log.traceLock);
    if (!log.opened) OpenLocked(log, std::string(log.logPath));
    const qmos::LocalTime now = qmos::LocalNow();
    RemoveIfPending(log);
    WriteTraceFileLine(log.systemPath, now, text, log.file);
  } catch (const std::exception&) {
    // A line that cannot be written is dropped; tracing never fails its caller.
  }
}

void Trace(const char* format, ...) {
  if (!TraceEnabled()) return;
  va_list args;
  va_start(args, format);
  WriteFormatted(format, args);
  va_end(args);
}

void TraceAlways(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(format, args);
  va_end(args);
}

void CloseTraceLog() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  log.opened = false;
}

void SaveTracePosition() {
  try {
    StoreTraceWritePosition(TraceWritePosition());
  } catch (...) {
    // The position is lost for the next run; the log itself is unaffected.
  }
}

std::string TraceFilePath() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  return log.traceFilePath;
}

std::string TraceLogPath() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  return log.logPath;
}

std::string TraceLogSystemPath() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  return log.systemPath;
}

bool TraceLogOpened() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  return log.opened;
}

std::int32_t TraceMaxSize() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  return log.file.maxSize;
}

std::int32_t TraceWritePosition() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  return log.file.writePosition;
}

bool TraceRemovalPending() {
  TraceLogState& log = Log();
  qmos::CriticalSectionGuard guard(log.traceLock);
  return log.removeTraceFiles != 0;
}

qmos::CriticalSection& PerfLock() { return Log().perfLock; }

}  // namespace vantiro
