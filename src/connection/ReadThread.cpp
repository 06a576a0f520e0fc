// The reader's loop and its packet processing: answers to the plug-in's requests
// (found by id in the sent-packet table) and commands from the multiplexor.
#include "connection/ReadThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "connection/PluginThread.h"
#include "connection/perf_rows.h"
#include "connection/login_prompt.h"
#include "tls/tls_connection.h"
#include "connection/WriteThread.h"
#include "connection/failure_notices.h"
#include "connection/sent_packets.h"
#include "connection/validating_caption.h"
#include "diag/trace_log.h"
#include "frame.h"
#include "plugin/process_state.h"
#include "qmos/application.h"
#include "qmos/clock.h"
#include "qmos/time_scale.h"

namespace vantiro {

namespace {

// How long one readiness wait lasts: it bounds how late the terminate flag is seen.
constexpr std::int64_t kReadinessWaitMs = 1000;
// A frame that has begun must go on arriving: when no byte of it comes for this long
// (scaled), the read counts as failed.
constexpr std::int64_t kFrameStallMs = 60000;
// The body's buffer grows as its bytes arrive, by at least this much at a time and
// at most doubling, so memory follows what was received, not what was announced.
constexpr std::size_t kFirstBodyChunk = 65536;
// How much of a received body its trace line shows.
constexpr std::size_t kMaxTracedBody = 65536;
// One TLS read asks for this much: a whole record's text (16 KiB at most), so that
// the frames that came in one record are read with one call.
constexpr std::size_t kReadChunk = 16384;
// The longest single wait while a frame is coming in (scaled), as the connection's
// own waits: how soon the terminate flag is seen.
constexpr std::int64_t kStepMs = 100;

constexpr const char* kLoginFailedQueue = "mc_login_failed";
constexpr const char* kLoggedInQueue = "mc_logged_in";
constexpr const char* kValidationLookup = "service_name:XXX_MessageCenterAPI\n";

bool Is(const char* value, const char* expected) {
  return value != nullptr && std::strcmp(value, expected) == 0;
}

const char* OrEmpty(const char* value) { return value != nullptr ? value : ""; }

struct PacketDeleter {
  void operator()(PH_Packet* packet) const { PH_destroy(packet); }
};
using PacketHandle = std::unique_ptr<PH_Packet, PacketDeleter>;

// Removes an answered request's entry as the answer's handling ends, however it
// ends.
class ForgetOnExit {
 public:
  explicit ForgetOnExit(std::string id) : id_(std::move(id)) {}
  ~ForgetOnExit() { RemoveSentPacketId(id_); }
  ForgetOnExit(const ForgetOnExit&) = delete;
  ForgetOnExit& operator=(const ForgetOnExit&) = delete;

 private:
  std::string id_;
};

// Command packets that are republished on a host queue.
struct Relay {
  const char* command;
  const char* queue;
};
constexpr Relay kRelays[] = {
    {"activity", "mc_activity"},
    {"subscriber_activity", "subscriber_activity"},
    {"presence_monitor_status", "presence_monitor_status"},
    {"receive_im", "receive_im"},
};

}  // namespace

ReadThread::ReadThread(std::shared_ptr<TlsConnection> connection, std::weak_ptr<PluginThread> supervisor)
    : connection_(std::move(connection)), supervisor_(std::move(supervisor)) {
  SetFreeOnTerminate(true);
}

ReadThread::~ReadThread() = default;

// ---------------------------------------------------------------------------
// The read loop.

void ReadThread::Execute() {
  if (!connection_) return;
  while (!Terminated()) {
    // A frame already in inbox_ is taken at once. Otherwise the socket is waited for
    // first (WaitReadable answers at once when the TLS layer holds bytes the socket
    // no longer shows: decrypted ones or whole records read ahead), so that the
    // connection's lock, which the writer needs for every write, is not held by a
    // read that finds nothing.
    if (InboxSize() == 0) {
      const qmos::WaitStatus ready =
          connection_->WaitReadable(static_cast<std::uint32_t>(qmos::ScaledMs(kReadinessWaitMs)));
      if (Terminated() || ready == qmos::WaitStatus::Timeout) continue;
      // Ready, or a failed wait, whose cause the read reports.
    }

    std::string body;
    const FrameRead read = ReadFrame(body);
    if (read == FrameRead::NothingYet) continue;
    if (read == FrameRead::Failed) {
      ReadFailed();
      return;
    }
    // The text up to its end or a stray NUL byte, as a text.
    PacketHandle packet(PH_create(body.c_str(), static_cast<int>(std::strlen(body.c_str()))));
    try {
      ProcessPacket(packet.get());
    } catch (const std::exception& error) {
      Trace("ReadThread::ProcessPacket(): Unexpected error: %s", error.what());
    } catch (...) {
      Trace("ReadThread::ProcessPacket(): Unexpected error");
    }
    packet.reset();  // before the next frame is read
  }
  Trace("ReadThread::Execute(): Starting thread termination");
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->SignalReadThreadTerminated(this);
}

ReadThread::FrameRead ReadThread::ReadFrame(std::string& body) {
  const auto stallMs = static_cast<std::uint32_t>(qmos::ScaledMs(kFrameStallMs));
  bool stalled = false;
  // The socket may have been readable for the TLS layer alone (a session ticket):
  // until the first byte of a frame has come, the loop goes on waiting.
  if (InboxSize() == 0) {
    const TlsIo first = ReadOnce();
    if (first == TlsIo::WouldBlock) return FrameRead::NothingYet;
    if (first != TlsIo::Done) return FrameRead::Failed;
  }
  while (InboxSize() < kFramePrefixSize) {
    if (!ReadMore(stallMs, &stalled)) return FrameStalled(stalled);
  }
  const std::optional<std::size_t> length =
      ParseFramePrefix(std::string_view(inbox_.data() + inboxStart_, kFramePrefixSize));
  if (!length) {
    Trace("ReadThread::Execute(): The length prefix is not eight digits and a line feed");
    return FrameRead::Failed;
  }
  Trace("ReadThread::Execute(): Receiving a packet of [%d] bytes", static_cast<int>(*length));

  std::string buffer;
  if (InboxSize() - kFramePrefixSize >= *length) {
    // The whole frame is here already; the frames after it stay where they are.
    buffer.assign(inbox_, inboxStart_ + kFramePrefixSize, *length);
    inboxStart_ += kFramePrefixSize + *length;
  } else {
    // The body's beginning is here; the rest is read exactly, so nothing of the next
    // frame is read with it.
    buffer.assign(inbox_, inboxStart_ + kFramePrefixSize);
    inbox_.clear();
    inboxStart_ = 0;
    const StopCheck stop = [this] { return Terminated(); };
    std::size_t done = buffer.size();
    while (done < *length) {
      const std::size_t chunk = std::min(*length - done, std::max(kFirstBodyChunk, done));
      try {
        buffer.resize(done + chunk);
      } catch (const std::exception&) {
        Trace("ReadThread::Execute(): Cannot allocate [%d] bytes", static_cast<int>(done + chunk));
        return FrameRead::Failed;
      }
      if (!connection_->ReadExact(buffer.data() + done, chunk, stallMs, stop, &stalled)) {
        return FrameStalled(stalled);
      }
      done += chunk;
    }
  }
  // The body is traced as text, blanked: no password reaches the trace log. A huge
  // body is traced by its beginning only, so that one frame cannot hold every thread
  // that traces while it is written.
  if (TraceEnabled()) {
    const std::string_view text(buffer.data(), std::min(buffer.size(), kMaxTracedBody));
    Trace("ReadThread::Execute(): Received [%s] bytes", WithoutPassword(text).c_str());
  }
  body = std::move(buffer);
  return FrameRead::Frame;
}

TlsIo ReadThread::ReadOnce() {
  // What was taken goes first, in one move per read rather than one per frame.
  inbox_.erase(0, inboxStart_);
  inboxStart_ = 0;
  readChunk_.resize(kReadChunk);
  std::size_t got = 0;
  const TlsIo io = connection_->Read(readChunk_.data(), readChunk_.size(), got);
  if (io == TlsIo::Done) inbox_.append(readChunk_.data(), got);
  return io;
}

bool ReadThread::ReadMore(std::uint32_t stallMs, bool* stalled) {
  *stalled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallMs);
  for (;;) {
    const TlsIo io = ReadOnce();
    if (io == TlsIo::Done) return true;
    if (io != TlsIo::WouldBlock || Terminated()) return false;
    const std::int64_t left = qmos::MsLeft(deadline);
    if (left == 0) {
      *stalled = true;
      return false;
    }
    const auto step = static_cast<std::uint32_t>(std::min(left, qmos::ScaledMs(kStepMs)));
    if (connection_->WaitReadable(step) == qmos::WaitStatus::Error) return false;
  }
}

ReadThread::FrameRead ReadThread::FrameStalled(bool stalled) {
  if (stalled) {
    Trace("ReadThread::Execute(): No byte of the frame came for %d ms.  Giving up the connection",
          static_cast<int>(qmos::ScaledMs(kFrameStallMs)));
  }
  return FrameRead::Failed;
}

void ReadThread::ReadFailed() {
  if (Terminated()) return;  // told to end: the failed read is the shut-down socket
  Trace("ReadThread::Execute(): Socket seems to be closed.  Exiting thread");
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->WorkerFoundConnectionDown(1);
}

// ---------------------------------------------------------------------------
// Packets.

void ReadThread::ProcessPacket(PACKET packet) {
  if (packet == nullptr) return;
  const char* id = PH_valueOf(packet, "id");
  Trace("ReadThread::ProcessPacket(): id=[%s]", OrEmpty(id));

  // The record is copied out under sentPacketsLock and used outside it.
  AfterPacket next = AfterPacket::Continue;
  SentPacketRecord record{};
  if (id != nullptr && LookUpSentPacket(id, record)) {
    ForgetOnExit forget(id);
    next = ProcessAnswer(packet, record);
  } else {
    next = ProcessCommand(packet);
  }
  if (next == AfterPacket::EndReader) Terminate();
}

ReadThread::AfterPacket ReadThread::ProcessAnswer(PACKET packet, const SentPacketRecord& record) {
  if (State().PerfLogEnabled) LogAnswerTime(record);
  const char* result = PH_valueOf(packet, "result");
  Trace("ReadThread::ProcessPacket(): result=[%s]", OrEmpty(result));

  const std::string command(record.command, strnlen(record.command, sizeof record.command));
  if (command == "hello") return ProcessLoginAnswer(result);
  if (command == "heartbeat") {
    PublishLookupForValidation();
    return AfterPacket::Continue;
  }
  ShowNotice(NoticeForAnswer(command, result));
  return AfterPacket::Continue;
}

// A heartbeat answer while the login stands and the password is not validated yet
// asks the host for the mailbox server, whose answer starts the validation.
void ReadThread::PublishLookupForValidation() {
  const ProcessState& state = State();
  if (!state.LoginAuthenticated || state.MCValidate || state.ValidatingPassword) return;
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) {
    supervisor->PublishToHost(kLookupQueue, kValidationLookup);
  }
}

ReadThread::AfterPacket ReadThread::ProcessLoginAnswer(const char* result) {
  if (Is(result, "ok")) {
    if (State().MCValidate && !Terminated()) {
      if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) {
        // Validated before this connection: the user is online again at once.
        supervisor->PublishToHost(kLoggedInQueue, "");
        supervisor->sendOFFLINEACTIVITYREQUEST();
        return AfterPacket::Continue;
      }
    }
    State().LoginAuthenticated = !Terminated() && Supervisor() != nullptr;
    OnMainThread([this] { ChangeCaption(); });
    Trace("ReadThread::ProcessPacket(): QUEUE_LOGGED_IN:LoginAuthenticated=%s",
          State().LoginAuthenticated ? "true" : "false");
    return AfterPacket::Continue;
  }

  Publish(kLoginFailedQueue, "");
  if (Is(result, "password_invalid")) {
    Trace("ReadThread::ProcessPacket(): Hello returned =[%s]", result);
    OnMainThread([this] { PromptUserForValidPassword(); });
    return AfterPacket::EndReader;
  }
  if (Is(result, "mailbox_locked")) {
    Trace("ReadThread::ProcessPacket(): Hello returned =[%s]", result);
    ShowNotice(FailureNotice::MailboxLocked);
  } else if (Is(result, "failure")) {
    Trace("ReadThread::ProcessPacket(): Hello returned =[%s]", result);
    ShowNotice(FailureNotice::LoginFailed);
  }
  AbortIfStillRunning();
  return AfterPacket::Continue;
}

ReadThread::AfterPacket ReadThread::ProcessCommand(PACKET packet) {
  const char* command = PH_valueOf(packet, "command");
  if (command == nullptr || *command == '\0') {
    Trace("ReadThread::ProcessPacket(): Got a packet that we can't handle.  Ignoring");
    return AfterPacket::Continue;
  }
  Trace("ReadThread::ProcessPacket(): command=[%s]", command);
  for (const Relay& relay : kRelays) {
    if (std::strcmp(command, relay.command) == 0) {
      RelayToHostQueue(packet, relay.queue);
      return AfterPacket::Continue;
    }
  }
  if (std::strcmp(command, "rejection") == 0) return ProcessRejection(packet);
  return AfterPacket::Continue;
}

ReadThread::AfterPacket ReadThread::ProcessRejection(PACKET packet) {
  const char* reason = PH_valueOf(packet, "reason");
  Publish(kLoginFailedQueue, "");
  Trace("ReadThread::ProcessPacket(): rejection reason=[%s]", OrEmpty(reason));

  if (Is(reason, "too_many_clients")) {
    if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->RetryConnection();
  } else if (Is(reason, "cannot_authenticate") || Is(reason, "mailbox_locked")) {
    ShowNotice(Is(reason, "mailbox_locked") ? FailureNotice::MailboxLocked
                                            : FailureNotice::CannotAuthenticate);
    if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->AbortConnection();
  } else if (Is(reason, "password_invalid")) {
    Trace("ReadThread::ProcessPacket(): Invalid MCServer/Profile/Password..prompt to change:");
    OnMainThread([this] { PromptUserForValidPassword(); });
    return AfterPacket::EndReader;
  } else {
    Trace("ReadThread::ProcessPacket(): Got an unrecognized rejection reason.  Ignoring.");
  }
  return AfterPacket::Continue;
}

void ReadThread::RelayToHostQueue(PACKET packet, const std::string& queue) {
  if (packet == nullptr) return;
  if (State().PerfLogEnabled) LogActivityTime(packet);
  PacketHandle copy(PH_create_empty());
  if (!copy) return;
  int count = 0;
  const char** fields = PH_fields(packet, &count);
  for (int i = 0; i < count; ++i) {
    const char* name = fields[i];
    if (Is(name, "id") || Is(name, "profile") || Is(name, "command")) continue;
    if (const char* value = PH_valueOf(packet, name)) PH_add(copy.get(), name, value);
  }
  int length = 0;
  const char* text = PH_build_packet_no_id(copy.get(), &length);
  if (text == nullptr) return;
  Publish(queue, std::string(text, static_cast<std::size_t>(length)));
}

// ---------------------------------------------------------------------------
// The main thread.

void ReadThread::ChangeCaption() {
  if (State().MCValidate) return;
  const std::string dots = AdvanceCaptionDots();
  std::string base = kDefaultCaption;
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) {
    base = supervisor->GetHostData("caption");
  } else {
    Trace("ReadSocketThread::Changing caption: to Quillmere Client");
  }
  qmos::Application& application = qmos::Application::Instance();
  application.SetCaption(ValidatingCaption(base, dots));
  application.Repaint();
}

void ReadThread::PromptUserForValidPassword() {
  const std::shared_ptr<PluginThread> supervisor = Supervisor();
  if (!supervisor) return;
  SupervisorPromptHost host(*supervisor);
  StoredLogin stored;
  std::unique_ptr<TInputPasswordForm> dialog =
      FillLoginDialog(host, stored, [this] { return Terminated(); });
  if (!dialog) return;

  if (!ShowLoginDialog(*dialog)) {
    const std::string typed = dialog->edtProfile.Text();
    dialog.reset();
    if (!TrimBlanks(typed).empty() && typed != kNoProfile) host.Put("mc_last_failed", typed);
    host.Put("mc_profile", kNoProfile);
    supervisor->AbortConnection();
    host.Publish(kLoginFailedQueue, "");
    return;
  }

  WriteChosenLogin(host, stored, *dialog, "ReadSocketThread");
  Trace("ReadSocketThread::InputPassword() EditServerName=%s EditxBox=%s", stored.gateway.c_str(),
        dialog->EditServerName.Text().c_str());
  WriteServerCodes(host, *dialog);
  host.Put("mc_gateway_server", dialog->EditServerName.Text());
  WriteLastFailed(host, stored, *dialog);
  Trace("ReadThread::PromptUserForValidPassword() : telling the plug-in thread to shutdown the connection");
  supervisor->multiplexorConnectionDown(2);
  ChangeCaption();
}

void ReadThread::OnMainThread(const std::function<void()>& fn) {
  if (!Synchronize(fn)) {
    Trace("ReadThread: The host no longer serves its queue; nothing was shown");
  }
}

void ReadThread::ShowNotice(FailureNotice notice) {
  if (notice == FailureNotice::None) return;
  OnMainThread([notice] { ShowFailureNotice(notice); });
}

void ReadThread::AbortIfStillRunning() {
  if (Terminated()) return;
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->AbortConnection();
}

void ReadThread::Publish(const std::string& queue, const std::string& data) {
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->PublishToHost(queue, data);
}

}  // namespace vantiro
