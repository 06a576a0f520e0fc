// The state that the plug-in object shares with its worker threads, one instance per
// process. Flags are atomics: each is written by one side and polled by the others.
// The sent-packet table, its lock and the events are held by shared ownership, so a
// thread that still runs after the plug-in object gave them up (a supervisor that did
// not end within its bound) never uses freed memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "qmos/critical_section.h"
#include "qmos/event.h"

struct HT_Table;

namespace quillmere {
struct IQMViewerBase;
}

namespace vantiro {

class PluginThread;

// The table of packets sent and not yet answered, keyed by packet id, with its
// re-entrant lock. Created by Initialize, given up by Terminate.
struct SentPacketTable {
  SentPacketTable();
  ~SentPacketTable();
  SentPacketTable(const SentPacketTable&) = delete;
  SentPacketTable& operator=(const SentPacketTable&) = delete;

  HT_Table* table;                  // HT_create(100, 0)
  qmos::CriticalSection lock;       // sentPacketsLock
};

class ProcessState {
 public:
  // The host's callback object, kept without a reference (the host outlives us).
  std::atomic<quillmere::IQMViewerBase*> hostCallback{nullptr};

  std::atomic<bool> PluginTerminating{false};
  std::atomic<bool> UserAborted{false};
  std::atomic<bool> LoginAuthenticated{false};
  std::atomic<bool> ValidatingPassword{false};
  std::atomic<bool> MCValidate{false};
  std::atomic<std::int32_t> DaysToExpiry{0};
  std::atomic<bool> PerfLogEnabled{false};

  // The running supervisor, or none. Set by the host's thread when it starts one,
  // cleared by the supervisor itself as the last act of its Execute.
  std::shared_ptr<PluginThread> GetPluginThread() const;
  void SetPluginThread(std::shared_ptr<PluginThread> thread);
  // Clears the reference only when it still names this supervisor.
  void ClearPluginThread(const PluginThread* thread);
  // A supervisor's last act: when it is still the recorded one, sets
  // pluginThreadTerminatedEvent (if any) and clears the reference. A supervisor that
  // a restart has already replaced does neither: the plug-in waits for its successor.
  void EndPluginThread(const PluginThread* thread);

  // The supervisors' own "reason:abort" publications, which the client hands back to
  // the plug-in as abort requests: noted when published, taken (oldest first) when one
  // comes back. Each counts for kOwnAbortWindowMs (scaled), in case the client never hands it
  // back.
  static constexpr std::int64_t kOwnAbortWindowMs = 10000;
  void NoteOwnAbortPublished();
  bool TakeOwnAbortHandedBack();
  void ForgetOwnAborts();  // a new Initialize: none of them is handed back any more

  std::string PreferencesPath() const;            // at most 511 characters
  void SetPreferencesPath(std::string path);

  std::shared_ptr<SentPacketTable> SentPackets() const;
  void SetSentPackets(std::shared_ptr<SentPacketTable> table);

  std::shared_ptr<qmos::Event> MultiplexorAddressEvent() const;
  void SetMultiplexorAddressEvent(std::shared_ptr<qmos::Event> event);
  std::shared_ptr<qmos::Event> PluginThreadTerminatedEvent() const;
  void SetPluginThreadTerminatedEvent(std::shared_ptr<qmos::Event> event);
  std::shared_ptr<qmos::Event> SomethingToWriteEvent() const;
  void SetSomethingToWriteEvent(std::shared_ptr<qmos::Event> event);

 private:
  mutable std::mutex mutex_;  // guards the references below, never held while calling out
  std::shared_ptr<PluginThread> pluginThread_;
  std::string preferencesPath_;
  std::shared_ptr<SentPacketTable> sentPackets_;
  std::shared_ptr<qmos::Event> multiplexorAddressEvent_;
  std::shared_ptr<qmos::Event> pluginThreadTerminatedEvent_;
  std::shared_ptr<qmos::Event> somethingToWriteEvent_;
  std::deque<std::int64_t> ownAborts_;  // when each was published (monotonic ms)
};

// The one instance of the process.
ProcessState& State();

}  // namespace vantiro
