// The supervisor's loop, its host access and its connection control. The TLS
// operations (certificate, context, connect, disconnect) are in multiplexor_connect.cpp.
#include "connection/PluginThread.h"

#include <utility>

#include "connection/WriteThread.h"
#include "diag/trace_log.h"
#include "qmos/bstr.h"
#include "qmos/clock.h"
#include "qmos/time_scale.h"
#include "quillmere/qm_viewer.h"
#include "state/process_state.h"
#include "tls/tls_connection.h"

namespace vantiro {

namespace {

// How long the supervisor waits for the host's answer to a service lookup.
constexpr std::int64_t kLookupWaitMs = 15000;
// The keep-alive loop's tick and the pause's step.
constexpr std::int64_t kTickMs = 1000;
// Keep-alive points and the pause, in whole (scaled) seconds.
constexpr std::int64_t kHeartbeatSeconds = 15;
constexpr std::int64_t kOutstandingCheckSeconds = 50;
constexpr std::int64_t kPauseSeconds = 10;

constexpr const char* kLoggedOutQueue = "mc_logged_out";

// Monotonic time in whole seconds of the time scale: one such second lasts
// ScaledMs(1000) milliseconds.
std::int64_t ScaledSeconds() { return qmos::MonotonicMs() / qmos::ScaledMs(kTickMs); }

}  // namespace

PluginThread::PluginThread(quillmere::IQMViewerBase* hostCallback)
    : hostCallback_(hostCallback),
      wake_(qmos::Event::Create()),
      somethingToWriteEvent_(qmos::Event::Create()) {
  SetFreeOnTerminate(true);
  // Our writers wait on our own event; the process state names the newest one.
  State().SetSomethingToWriteEvent(somethingToWriteEvent_);
  State().LoginAuthenticated = false;
}

// ~PluginThread is in multiplexor_connect.cpp, next to the TLS state it frees.

void PluginThread::SetMultiplexorAddress(const std::string& address) {
  std::lock_guard<std::mutex> guard(mutex_);
  address_ = address;
}

void PluginThread::SetMultiplexorPort(std::uint16_t port) { port_.store(port); }

std::string PluginThread::MultiplexorAddress() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return address_;
}

std::shared_ptr<TlsConnection> PluginThread::Connection() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return connection_;
}

// ---------------------------------------------------------------------------
// Host access. The BSTRs we make are ours and freed on return; the one the host
// hands back from GetData is the caller's (ours) to free.

std::shared_ptr<PluginThread> PluginThread::StartRecorded(quillmere::IQMViewerBase* hostCallback) {
  ProcessState& state = State();
  auto supervisor = std::make_shared<PluginThread>(hostCallback);
  state.SetPluginThread(supervisor);
  if (!supervisor->Start()) {
    state.ClearPluginThread(supervisor.get());
    return nullptr;
  }
  return supervisor;
}

std::string PluginThread::GetHostData(const std::string& key) {
  if (hostCallback_ == nullptr) return std::string();
  qmos::Bstr name(key);
  qmos::Bstr value;
  const qmos::HRESULT hr = hostCallback_->GetData(name.Get(), value.Out());
  if (hr != qmos::S_OK) return std::string();
  return value.Utf8();
}

qmos::HRESULT PluginThread::PutHostData(const std::string& key, const std::string& value) {
  if (hostCallback_ == nullptr) return qmos::E_POINTER;
  qmos::Bstr name(key);
  qmos::Bstr data(value);
  return hostCallback_->PutData(name.Get(), data.Get());
}

void PluginThread::PublishToHost(const std::string& queue, const std::string& data) {
  if (hostCallback_ == nullptr) return;
  qmos::Bstr name(queue);
  qmos::Bstr text(data);
  hostCallback_->Publish(name.Get(), text.Get());  // the result is not used
}

// ---------------------------------------------------------------------------
// The supervisor's loop.

bool PluginThread::StopRequested() const { return Terminated() || State().PluginTerminating; }

void PluginThread::TerminatedSet() { wake_->Set(); }

void PluginThread::Nap(std::int64_t ms) {
  if (Terminated()) return;
  wake_->WaitFor(static_cast<std::uint32_t>(ms));
}

void PluginThread::Pause() {
  const std::int64_t start = ScaledSeconds();
  while (!Terminated() && ScaledSeconds() - start < kPauseSeconds) Nap(qmos::ScaledMs(kTickMs));
}

void PluginThread::KeepAlive() {
  std::int64_t heartbeatFrom = ScaledSeconds();
  std::int64_t checkFrom = heartbeatFrom;
  while (!Terminated() && connected_) {
    Nap(qmos::ScaledMs(kTickMs));
    const std::int64_t now = ScaledSeconds();
    if (now - heartbeatFrom >= kHeartbeatSeconds) {
      sendHEARTBEAT();
      heartbeatFrom = ScaledSeconds();
    }
    if (now - checkFrom >= kOutstandingCheckSeconds) {
      Trace("PluginThread::Execute(): CheckOutStandPackets ignored");
      checkFrom = ScaledSeconds();
    }
  }
}

void PluginThread::Execute() {
  // Whatever happens in the passes, the end below runs: a supervisor that vanished
  // without it would stay recorded, and no restart could replace it.
  try {
    RunPasses();
  } catch (...) {
    Trace("PluginThread::Execute(): Unexpected error, ending the thread");
  }

  Trace("PluginThread::Execute(): Starting thread termination");
  StopWorkersAtEnd();
  if (connected_ && !State().PluginTerminating) Disconnect();
  if (!State().PluginTerminating) {
    Trace("PluginThread::Execute(): Disconnected from the multiplexor, thread exiting");
  }
  tls::ReleaseThreadState();
  // The last two acts: whoever waits for our end may now let the plug-in go.
  State().EndPluginThread(this);
}

void PluginThread::RunPasses() {
  const int threadId = static_cast<int>(ThreadID());
  while (!Terminated() && retryConnection_ && !State().PluginTerminating) {
    const std::shared_ptr<qmos::Event> addressEvent = State().MultiplexorAddressEvent();
    if (addressEvent) addressEvent->Reset();
    PublishToHost(kLookupQueue, "service_name:multiplexor\nforced:1\n");

    ForgetWorkersOfEarlierPass();

    bool signalled = false;
    if (addressEvent) {
      signalled = addressEvent->WaitFor(static_cast<std::uint32_t>(qmos::ScaledMs(kLookupWaitMs))) ==
                  qmos::WaitResult::Signalled;
    } else {
      Nap(qmos::ScaledMs(kLookupWaitMs));  // nobody can announce an address
    }
    if (Terminated()) {
      Trace("Thread ID = %i : PluginThread::Execute(): We were terminated, but after we'd timed "
            "out waiting for a signal",
            threadId);
      break;
    }
    if (!signalled) {
      Trace("Thread ID = %i : PluginThread::Execute(): We timed out waiting for a signal, time "
            "to loop",
            threadId);
      continue;
    }

    Trace("PluginThread::Execute(): About to connect to the multiplexor");
    if (StopRequested()) break;

    if (!ConnectToMultiplexor()) {
      // Whatever step failed, the next attempt waits for the pause: an address that
      // does not resolve must not make the supervisor spin.
      Pause();
      if (Terminated()) break;
      continue;
    }
    dropReported_ = false;
    connected_ = true;

    StartWorkers();
    if (!Terminated()) sendHELLO();

    KeepAlive();

    Trace("PluginThread::Execute(): Terminated=%d connected=%d retryConnection=%d",
          Terminated() ? 1 : 0, connected_ ? 1 : 0, retryConnection_ ? 1 : 0);
    Trace("%s", retryConnection_
                    ? "PluginThread::Execute(): The connection is down.  Will reestablish"
                    : "PluginThread::Execute(): The connection is down.  Will NOT reestablish");
    if (retryConnection_ && !Terminated()) Pause();
  }
}

// ---------------------------------------------------------------------------
// Connection control, called from any thread.

void PluginThread::multiplexorConnectionDown(int reason) {
  Trace("PluginThread::multiplexorConnectionDown(): Connection down");
  if (Terminated()) return;
  PublishToHost(kLoggedOutQueue, "");
  if (reason != 1) ForgetReader();  // a reader that found the end ends by itself
  if (!HasWriter()) {
    // Without a writer there is nothing to stop, but a connection still marked up
    // (its writer gone without a report) would never be made again.
    if (connected_) RetryConnection();
    return;
  }
  if (reason != 2) ForgetWriter();  // a writer that failed ends by itself
  RetryConnection();
}

void PluginThread::WorkerFoundConnectionDown(int reason) {
  if (dropReported_.exchange(true)) {
    Trace("PluginThread::multiplexorConnectionDown(): Drop already reported");
    return;
  }
  multiplexorConnectionDown(reason);
}

void PluginThread::RetryConnection() {
  Trace("PluginThread::RetryConnection(): At start");
  if (aborting_) {
    Trace("PluginThread::RetryConnection(): The thread is aborting, so ignoring retry");
    return;
  }
  ForgetReader();
  StopWriterForRetry();
  if (State().PluginTerminating) return;
  Disconnect();
  // Requests of the old connection can never be answered now. A writer recorded above
  // took its records with it; after a drop the reader found, the writer was forgotten
  // first, and its records would otherwise stay for the rest of the run.
  ClearSentPackets();
  State().LoginAuthenticated = false;
  connected_ = false;
  // aborting_ was false at the start (or we returned above). It is not cleared here:
  // an abort that came meanwhile would be forgotten, and its own publication handed
  // back by the client would abort again.
  retryConnection_ = true;
}

void PluginThread::AbortConnection() {
  Trace("PluginThread::AbortConnection(): At start");
  // Once only: the host may hand our own "reason:abort" publication back to the
  // plug-in as an abort request, which must not publish it again.
  if (aborting_.exchange(true)) {
    Terminate();
    return;
  }
  State().NoteOwnAbortPublished();  // before the client can hand it back
  PublishToHost(kLoggedOutQueue, "reason:abort\n");
  State().LoginAuthenticated = false;
  retryConnection_ = false;
  Terminate();
}

}  // namespace vantiro
