// PluginThread: the supervisor that owns the link to the multiplexor. It asks the
// host for the multiplexor's address, connects over TLS, keeps the connection alive
// and, after a drop, starts over or ends. It is also the gateway through which the
// other threads reach the host: settings and queue publications.
//
// Threads: Execute runs on the supervisor's own thread; the host's thread, the
// writer, the reader and the dialog threads call the public operations at any time.
// Flags are atomics, texts and the connection references are guarded by a mutex
// that is never held while calling the host or waiting.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "qmos/event.h"
#include "qmos/hresult.h"
#include "qmos/socket.h"
#include "qmos/thread.h"
#include "tls/tls_context.h"

namespace quillmere {
struct IQMViewerBase;
}

namespace vantiro {

// The host queue that asks the host to look a service up (the multiplexor, the
// mailbox server's interface).
inline constexpr const char* kLookupQueue = "service_lookup_request";

class ReadThread;
class TlsConnection;
class WriteThread;

class PluginThread : public qmos::TThread {
 public:
  // Creates the supervisor's somethingToWriteEvent, clears LoginAuthenticated. The
  // caller starts it (qmos::TThread::StartNew<PluginThread>(callback) does both).
  explicit PluginThread(quillmere::IQMViewerBase* hostCallback);
  ~PluginThread() override;

  // Makes a supervisor, records it as the process's pluginThread and starts it;
  // main thread. Recorded before it starts, so that its own clearing of the
  // reference at its end can never be overwritten by a late store. Null (and
  // nothing recorded) when no thread could be started.
  static std::shared_ptr<PluginThread> StartRecorded(quillmere::IQMViewerBase* hostCallback);

  // The multiplexor's address from the host's lookup answer; set before
  // multiplexorAddressEvent is set.
  void SetMultiplexorAddress(const std::string& address);
  void SetMultiplexorPort(std::uint16_t port);
  std::string MultiplexorAddress() const;
  std::uint16_t MultiplexorPort() const { return port_.load(); }

  // Host access. GetHostData yields the empty text when the host has no value.
  std::string GetHostData(const std::string& key);
  qmos::HRESULT PutHostData(const std::string& key, const std::string& value);
  void PublishToHost(const std::string& queue, const std::string& data);

  // reason 1: the reader found the connection closed; 2: any other cause.
  void multiplexorConnectionDown(int reason);
  // The writer or the reader found the connection down: reported once per connection
  // (both may find the same drop at the same moment), then multiplexorConnectionDown.
  void WorkerFoundConnectionDown(int reason);
  void AbortConnection();
  void RetryConnection();

  // Takes the connection down: sends the TLS close notice, shuts the socket down
  // (waking any thread blocked on it) and drops the supervisor's references to the
  // connection and the TLS context. Callable from any thread.
  void Disconnect();
  // Shuts the standing connection's socket down without giving anything up, so that
  // a writer or reader blocked on it wakes at once (the plug-in is terminating).
  void ShutDownConnection();

  // The standing connection, or null: the writer and the reader each keep a
  // reference for as long as they use it.
  std::shared_ptr<TlsConnection> Connection() const;

  // The send operations (send_operations.cpp): each builds its packet ("profile", "password", "command",
  // then its own fields in order), queues it on the writer and wakes the writer. A
  // packet is dropped when the supervisor is not connected or has no live writer;
  // nothing is kept for a later connection. Callable from any thread.
  void sendHELLO();  // reads "mc_profile" and "mc_password" from the host first
  void sendHEARTBEAT();
  void sendQUIT();
  void sendCALLHOLD(const std::string& call_id, const std::string& call_ip_address,
                    const std::string& max_hold_time, const std::string& call_channel);
  void sendCALLTAKEMESSAGE(const std::string& call_id, const std::string& call_ip_address,
                           const std::string& call_channel);
  void sendCALLSENDMESSAGE(const std::string& call_id, const std::string& call_ip_address,
                           const std::string& ad_hoc_msg, const std::string& pre_defined_msg,
                           const std::string& call_channel);
  void sendCALLINTERCEPT(const std::string& call_id, const std::string& call_ip_address,
                         const std::string& transfer_number, const std::string& call_channel);
  void sendPLACECALL(const std::string& callback_number, const std::string& target_number);
  void sendPRESENCEMONITORREQUEST(const std::string& monitor_profile, const std::string& service);
  void sendPRESENCEMONITORREMOVE(const std::string& monitor_profile, const std::string& service);
  void sendPRESENCEMONITORREMOVEALL(const std::string& service);
  void sendPRESENCEMONITORQUERY(const std::string& service);
  void sendOFFLINEACTIVITYREQUEST();
  void sendSENDIM(const std::string& destination_profile, const std::string& sender_name,
                  const std::string& message);

  // The profile and password of the last login (sendHELLO); every later packet of the
  // connection carries them.
  std::string Profile() const;
  std::string Password() const;

  // The writer and the reader of the current connection, or null (a worker that has
  // ended is simply gone).
  std::shared_ptr<WriteThread> Writer() const;
  std::shared_ptr<ReadThread> Reader() const;
  // The event that wakes this supervisor's writers, made by the constructor.
  std::shared_ptr<qmos::Event> SomethingToWriteEvent() const { return somethingToWriteEvent_; }

  // The end of the workers' termination handshake: a worker calls these as it ends.
  // They set writeThreadTerminatedEvent / readThreadTerminatedEvent when the
  // supervisor is waiting for that worker (the event exists only then) and the worker
  // is the one recorded (null: whichever is recorded); otherwise they do nothing.
  void SignalWriteThreadTerminated(const WriteThread* writer = nullptr);
  void SignalReadThreadTerminated(const ReadThread* reader = nullptr);

  std::int32_t lastConnectResult() const { return lastConnectResult_.load(); }
  bool connected() const { return connected_.load(); }
  bool retryConnection() const { return retryConnection_.load(); }
  bool aborting() const { return aborting_.load(); }
  // Aborting or told to end: this supervisor makes no connection any more.
  bool Ending() const { return aborting_.load() || Terminated(); }

 protected:
  void Execute() override;
  // The passes of lookup, connect, login and keep-alive, until told to end.
  void RunPasses();
  // Wakes the one-second sleeps of the keep-alive loop and the pause.
  void TerminatedSet() override;

 private:
  // The TLS connection (multiplexor_connect.cpp). One attempt runs in four steps,
  // each of which fills ConnectFailure when it fails; TraceConnectFailure writes the
  // trace lines of every failure.
  struct ConnectFailure {
    // In the order of the attempt: from Connect on, lastConnectResult becomes -1.
    enum class Step { Registry, Context, Lookup, Socket, Connect, NewConnection, NewBio, Handshake, Unexpected };
    Step step = Step::Unexpected;
    int code = 0;      // the resolver's code, errno, or the first OpenSSL error code
    std::string text;  // OpenSSL's error text, or why the handshake stopped
  };
  // Reads "CACertificate"; false when the registry itself cannot be read.
  bool GetCACertificate();
  // The client context for the trust file; null when a named file cannot be used.
  tls::Context initialize_ctx(const std::string& path);
  bool ConnectToMultiplexor();
  bool AttemptConnection(ConnectFailure& failure);
  tls::Context LoadTrust(ConnectFailure& failure);
  bool ResolveAddress(qmos::Ipv4Address& target, ConnectFailure& failure);
  // The TCP connect and the handshake, each bounded by ConnectTimeoutMs.
  std::shared_ptr<TlsConnection> ConnectAndHandshake(const tls::Context& ctx, const qmos::Ipv4Address& target,
                                                     ConnectFailure& failure);
  static std::uint32_t ConnectTimeoutMs();
  static void TraceConnectFailure(const ConnectFailure& failure);
  void FreeContext();

  // The loop's waits.
  void KeepAlive();
  void Pause();
  void Nap(std::int64_t ms);
  bool StopRequested() const;

  // The writer and the reader of a connection (supervisor_workers.cpp).
  bool HasWriter() const { return Writer() != nullptr; }
  void ForgetWorkersOfEarlierPass();  // loop step 2: stop and forget, no waiting
  void StartWorkers();                // loop step 8
  void StopWorkersAtEnd();            // termination steps 1 to 3
  void ForgetReader();                // set its terminate flag, forget it
  void ForgetWriter();                // set its terminate flag, forget it, wake it
  void StopWriterForRetry();          // also purge its queue and the sent packets
  // Waits at most the scaled bound for event, or until the worker has finished.
  static void WaitForWorkerEnd(const std::shared_ptr<qmos::Event>& event, const qmos::TThread& worker);

  // Builds a packet with the common fields, command and the fields given, and queues
  // it on the writer; false when it was dropped.
  using Field = std::pair<const char*, const std::string*>;
  bool QueueRequest(const char* command, std::initializer_list<Field> fields);
  void TraceSending(const char* operation, const char* packetName);

  std::atomic<std::int32_t> lastConnectResult_{0};
  quillmere::IQMViewerBase* const hostCallback_;

  mutable std::mutex mutex_;  // guards the fields below it up to the flags
  std::string address_;
  std::string caCertificate_;
  tls::Context ctx_;
  std::shared_ptr<TlsConnection> connection_;
  std::string profile_;
  std::string password_;
  std::weak_ptr<WriteThread> writer_;
  std::weak_ptr<ReadThread> reader_;
  std::shared_ptr<qmos::Event> writeThreadTerminatedEvent_;  // only while waiting at the end
  std::shared_ptr<qmos::Event> readThreadTerminatedEvent_;

  std::atomic<std::uint16_t> port_{0};
  std::atomic<bool> connected_{false};
  std::atomic<bool> dropReported_{false};  // this connection's drop has been reported
  std::atomic<bool> retryConnection_{true};
  std::atomic<bool> aborting_{false};

  std::shared_ptr<qmos::Event> wake_;  // set by TerminatedSet
  const std::shared_ptr<qmos::Event> somethingToWriteEvent_;
};

}  // namespace vantiro
