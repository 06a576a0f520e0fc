#include "state/process_state.h"

#include <utility>

#include "hashtable.h"
#include "qmos/clock.h"
#include "qmos/lasting.h"
#include "qmos/time_scale.h"

namespace vantiro {

SentPacketTable::SentPacketTable() : table(HT_create(100, 0)) {}

SentPacketTable::~SentPacketTable() { HT_destroy(table); }

namespace {

// Reads and replaces a shared reference under the lock; a replaced value is
// released after the lock is left, since it may be the last reference.

template <class T>
std::shared_ptr<T> Read(std::mutex& mutex, const std::shared_ptr<T>& slot) {
  std::lock_guard<std::mutex> guard(mutex);
  return slot;
}

template <class T>
void Replace(std::mutex& mutex, std::shared_ptr<T>& slot, std::shared_ptr<T> value) {
  std::shared_ptr<T> previous;
  {
    std::lock_guard<std::mutex> guard(mutex);
    previous = std::exchange(slot, std::move(value));
  }
}

}  // namespace

std::shared_ptr<PluginThread> ProcessState::GetPluginThread() const {
  return Read(mutex_, pluginThread_);
}

void ProcessState::SetPluginThread(std::shared_ptr<PluginThread> thread) {
  Replace(mutex_, pluginThread_, std::move(thread));
}

void ProcessState::ClearPluginThread(const PluginThread* thread) {
  std::shared_ptr<PluginThread> previous;  // released after the lock: may be the last reference
  std::lock_guard<std::mutex> guard(mutex_);
  if (pluginThread_.get() == thread) previous.swap(pluginThread_);
}

void ProcessState::EndPluginThread(const PluginThread* thread) {
  std::shared_ptr<PluginThread> previous;  // released after the lock: may be the last reference
  std::shared_ptr<qmos::Event> ended;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (pluginThread_.get() != thread) return;
    ended = pluginThreadTerminatedEvent_;
    previous.swap(pluginThread_);
  }
  if (ended) ended->Set();
}

void ProcessState::NoteOwnAbortPublished() {
  const std::int64_t now = qmos::MonotonicMs();
  std::lock_guard<std::mutex> guard(mutex_);
  while (!ownAborts_.empty() && now - ownAborts_.front() > qmos::ScaledMs(kOwnAbortWindowMs)) ownAborts_.pop_front();
  ownAborts_.push_back(now);
}

void ProcessState::ForgetOwnAborts() {
  std::lock_guard<std::mutex> guard(mutex_);
  ownAborts_.clear();
}

bool ProcessState::TakeOwnAbortHandedBack() {
  const std::int64_t now = qmos::MonotonicMs();
  std::lock_guard<std::mutex> guard(mutex_);
  while (!ownAborts_.empty() && now - ownAborts_.front() > qmos::ScaledMs(kOwnAbortWindowMs)) ownAborts_.pop_front();
  if (ownAborts_.empty()) return false;
  ownAborts_.pop_front();
  return true;
}

std::string ProcessState::PreferencesPath() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return preferencesPath_;
}

void ProcessState::SetPreferencesPath(std::string path) {
  std::lock_guard<std::mutex> guard(mutex_);
  preferencesPath_ = std::move(path);
}

std::shared_ptr<SentPacketTable> ProcessState::SentPackets() const {
  return Read(mutex_, sentPackets_);
}

void ProcessState::SetSentPackets(std::shared_ptr<SentPacketTable> table) {
  Replace(mutex_, sentPackets_, std::move(table));
}


std::shared_ptr<qmos::Event> ProcessState::MultiplexorAddressEvent() const {
  return Read(mutex_, multiplexorAddressEvent_);
}
void ProcessState::SetMultiplexorAddressEvent(std::shared_ptr<qmos::Event> event) {
  Replace(mutex_, multiplexorAddressEvent_, std::move(event));
}
std::shared_ptr<qmos::Event> ProcessState::PluginThreadTerminatedEvent() const {
  return Read(mutex_, pluginThreadTerminatedEvent_);
}
void ProcessState::SetPluginThreadTerminatedEvent(std::shared_ptr<qmos::Event> event) {
  Replace(mutex_, pluginThreadTerminatedEvent_, std::move(event));
}
std::shared_ptr<qmos::Event> ProcessState::SomethingToWriteEvent() const {
  return Read(mutex_, somethingToWriteEvent_);
}
void ProcessState::SetSomethingToWriteEvent(std::shared_ptr<qmos::Event> event) {
  Replace(mutex_, somethingToWriteEvent_, std::move(event));
}

namespace {
// Workers that outlive Terminate's bound still reach the state at process exit.
qmos::Lasting<ProcessState> g_state;
}  // namespace

ProcessState& State() { return g_state.Get(); }

}  // namespace vantiro
