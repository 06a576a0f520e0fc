#include "qmhost/event_writer.h"

#include "qmhost/wake_signal.h"
#include "qmos/clock.h"

namespace qmhost {

namespace {
// A wait only looks back this far; older lines are dropped so that a long session
// without waits does not grow without bound.
constexpr std::size_t kMaxUnmatchedLines = 100000;
}  // namespace

EventWriter::EventWriter(std::FILE* out, bool ownsOut, EventFormat format, bool showSecrets)
    : start_(static_cast<std::int64_t>(qmos::MonotonicMs())), format_(format),
      showSecrets_(showSecrets), out_(out), ownsOut_(ownsOut) {}

EventWriter::~EventWriter() { Close(); }

void EventWriter::SetWakeSignal(WakeSignal* wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_ = wake;
}

std::int64_t EventWriter::ElapsedMs() const {
  return static_cast<std::int64_t>(qmos::MonotonicMs()) - start_;
}

void EventWriter::Write(std::string_view event, const EventMembers& members) {
  std::string line = !showSecrets_ && HoldsSecret(event, members)
                         ? FormatEvent(format_, ElapsedMs(), event, WithSecretHidden(members))
                         : FormatEvent(format_, ElapsedMs(), event, members);
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  if (out_) {
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
    line.pop_back();
  }
  unmatched_.push_back(std::move(line));
  if (unmatched_.size() > kMaxUnmatchedLines) unmatched_.pop_front();
  if (wake_) wake_->Signal();
}

bool EventWriter::ConsumeMatch(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < unmatched_.size(); ++i) {
    if (unmatched_[i].find(text) == std::string::npos) continue;
    unmatched_.erase(unmatched_.begin(), unmatched_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return true;
  }
  return false;
}

void EventWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  closed_ = true;
  wake_ = nullptr;
  if (out_) {
    std::fflush(out_);
    if (ownsOut_) std::fclose(out_);
    out_ = nullptr;
  }
}

}  // namespace qmhost
