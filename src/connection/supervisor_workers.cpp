// The supervisor's writer and reader: starting them on a connection, forgetting
// them, and the bounded termination handshake at the supervisor's end.
//
// Workers are recorded as std::weak_ptr: a worker that ended by itself is gone, and
// the supervisor never uses it. Nothing here is done under the supervisor's lock
// except reading or replacing the records.
#include <algorithm>
#include <utility>

#include "connection/PluginThread.h"
#include "connection/ReadThread.h"
#include "connection/sent_packets.h"
#include "connection/WriteThread.h"
#include "diag/trace_log.h"
#include "qmos/clock.h"
#include "qmos/time_scale.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

// How long the supervisor waits at its end for each worker.
constexpr std::int64_t kWorkerEndWaitMs = 5000;
// Step of that wait: a worker that ended before the event existed is seen finished.
constexpr std::int64_t kWorkerEndSliceMs = 20;

}  // namespace

std::shared_ptr<WriteThread> PluginThread::Writer() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return writer_.lock();
}

std::shared_ptr<ReadThread> PluginThread::Reader() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return reader_.lock();
}

void PluginThread::SignalWriteThreadTerminated(const WriteThread* writer) {
  std::shared_ptr<qmos::Event> event;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::shared_ptr<WriteThread> recorded = writer_.lock();
    if (writer == nullptr || recorded.get() == writer) event = writeThreadTerminatedEvent_;
  }
  if (event) event->Set();
}

void PluginThread::SignalReadThreadTerminated(const ReadThread* reader) {
  std::shared_ptr<qmos::Event> event;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::shared_ptr<ReadThread> recorded = reader_.lock();
    if (reader == nullptr || recorded.get() == reader) event = readThreadTerminatedEvent_;
  }
  if (event) event->Set();
}

void PluginThread::ForgetWorkersOfEarlierPass() {
  std::shared_ptr<WriteThread> writer;
  std::shared_ptr<ReadThread> reader;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    writer = writer_.lock();
    reader = reader_.lock();
    writer_.reset();
    reader_.reset();
  }
  if (reader) reader->Terminate();
  if (writer) {
    writer->Terminate();
    somethingToWriteEvent_->Set();
  }
}

void PluginThread::StartWorkers() {
  const std::shared_ptr<TlsConnection> connection = Connection();
  if (!connection) return;  // taken down again meanwhile: the next pass connects anew
  const std::weak_ptr<PluginThread> self =
      std::static_pointer_cast<PluginThread>(shared_from_this());

  // Each worker is recorded before it starts, so that whatever it reports at once
  // finds it recorded.
  if (!HasWriter()) {
    Trace("PluginThread::Execute(): Spawning WriteThread");
    auto writer = std::make_shared<WriteThread>(connection, self);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      writer_ = writer;
    }
    if (!writer->Start()) {
      std::lock_guard<std::mutex> guard(mutex_);
      writer_.reset();
    }
  }
  if (!Reader() && !StopRequested()) {
    Trace("PluginThread::Execute(): Spawning ReadThread");
    auto reader = std::make_shared<ReadThread>(connection, self);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      reader_ = reader;
    }
    if (!reader->Start()) {
      std::lock_guard<std::mutex> guard(mutex_);
      reader_.reset();
    }
  }
}

void PluginThread::WaitForWorkerEnd(const std::shared_ptr<qmos::Event>& event,
                                    const qmos::TThread& worker) {
  const std::int64_t deadline = qmos::MonotonicMs() + qmos::ScaledMs(kWorkerEndWaitMs);
  for (;;) {
    const std::int64_t left = deadline - qmos::MonotonicMs();
    if (left <= 0) return;
    const auto slice = static_cast<std::uint32_t>(std::min(left, qmos::ScaledMs(kWorkerEndSliceMs)));
    if (event->WaitFor(slice) == qmos::WaitResult::Signalled) return;
    if (worker.Finished()) return;
  }
}

void PluginThread::StopWorkersAtEnd() {
  // 1. Nothing queued goes out any more; an ordinary end says goodbye.
  if (const std::shared_ptr<WriteThread> writer = Writer()) {
    writer->PurgeQueue();
    if (!aborting_) sendQUIT();
  }
  // 2. The writer: flag, wake-up, bounded wait.
  if (const std::shared_ptr<WriteThread> writer = Writer()) {
    auto ended = qmos::Event::Create();
    {
      std::lock_guard<std::mutex> guard(mutex_);
      writeThreadTerminatedEvent_ = ended;
    }
    writer->Terminate();
    somethingToWriteEvent_->Set();
    WaitForWorkerEnd(ended, *writer);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      writeThreadTerminatedEvent_.reset();
    }
    Trace("PluginThread::Execute(): Got \"writeThreadTerminatedEvent\" signal");
  }
  // 3. The reader: flag, bounded wait.
  if (const std::shared_ptr<ReadThread> reader = Reader()) {
    auto ended = qmos::Event::Create();
    {
      std::lock_guard<std::mutex> guard(mutex_);
      readThreadTerminatedEvent_ = ended;
    }
    reader->Terminate();
    WaitForWorkerEnd(ended, *reader);
    std::lock_guard<std::mutex> guard(mutex_);
    readThreadTerminatedEvent_.reset();
  }
}

void PluginThread::ForgetReader() {
  std::shared_ptr<ReadThread> reader;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    reader = reader_.lock();
    reader_.reset();
  }
  if (reader) reader->Terminate();
}

void PluginThread::ForgetWriter() {
  std::shared_ptr<WriteThread> writer;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    writer = writer_.lock();
    writer_.reset();
  }
  if (writer) {
    writer->Terminate();
    somethingToWriteEvent_->Set();
  }
}

void PluginThread::StopWriterForRetry() {
  std::shared_ptr<WriteThread> writer;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    writer = writer_.lock();
  }
  if (!writer) return;
  writer->Terminate();
  writer->PurgeQueue();
  ClearSentPackets();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (writer_.lock() == writer) writer_.reset();
  }
  somethingToWriteEvent_->Set();
}

}  // namespace vantiro
