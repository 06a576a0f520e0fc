// Writes event lines, from any thread, one whole line at a time, and keeps the
// lines written since the last `wait` returned so that a wait can find them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "qmhost/event_format.h"

namespace qmhost {

class WakeSignal;

class EventWriter {
 public:
  // out is flushed after every line; it is closed by Close() when owned. Unless
  // showSecrets, the value of a setting whose key names a password is written as
  // "***" (see HoldsSecret); the lines a wait looks at are the written ones.
  EventWriter(std::FILE* out, bool ownsOut, EventFormat format, bool showSecrets = false);
  ~EventWriter();
  EventWriter(const EventWriter&) = delete;
  EventWriter& operator=(const EventWriter&) = delete;

  // Signalled after every line, so that a waiting main loop looks at it.
  void SetWakeSignal(WakeSignal* wake);

  void Write(std::string_view event, const EventMembers& members = EventMembers::object());

  // Looks for TEXT in the lines written since the previous successful match (or
  // since start). On a match the lines up to and including the matching one are
  // consumed and true is returned; later lines stay for the next wait.
  bool ConsumeMatch(std::string_view text);

  // Milliseconds since the writer was made (the "t" of every line).
  std::int64_t ElapsedMs() const;
  EventFormat Format() const { return format_; }

  // Writes nothing more: lines from threads that outlive the session are dropped.
  void Close();

 private:
  std::int64_t start_;
  EventFormat format_;
  bool showSecrets_;
  mutable std::mutex mutex_;
  std::FILE* out_;
  bool ownsOut_;
  bool closed_ = false;
  WakeSignal* wake_ = nullptr;
  std::deque<std::string> unmatched_;
};

}  // namespace qmhost
