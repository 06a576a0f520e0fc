// What the reader does with each packet: answers to the plug-in's requests (found by
// id in the sent-packet table), the multiplexor's commands and rejections, and the
// main-thread work they lead to (the failure notices, the caption, the login prompt).
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "connection/failure_notices.h"
#include "connection/login_prompt.h"
#include "connection/packet_handle.h"
#include "connection/perf_rows.h"
#include "connection/PluginThread.h"
#include "connection/ReadThread.h"
#include "connection/sent_packets.h"
#include "connection/validating_caption.h"
#include "connection/WriteThread.h"
#include "diag/trace_log.h"
#include "qmos/application.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

constexpr const char* kLoginFailedQueue = "mc_login_failed";
constexpr const char* kLoggedInQueue = "mc_logged_in";
constexpr const char* kValidationLookup = "service_name:XXX_MessageCenterAPI\n";

bool Is(const char* value, const char* expected) {
  return value != nullptr && std::strcmp(value, expected) == 0;
}

const char* OrEmpty(const char* value) { return value != nullptr ? value : ""; }

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
