// The plug-in object's handling of the client's queue messages: the requests it
// relays to the multiplexor through the supervisor, the service lookup answers (the
// multiplexor's address, the mailbox server's for the password's expiry check), and
// the client's restart and abort requests.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "connection/packet_handle.h"
#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "expiry/PasswordValidation.h"
#include "packet.h"
#include "plugin/port_text.h"
#include "plugin/VantiroImpl.h"
#include "qmos/bstr.h"
#include "qmos/clock.h"
#include "qmos/time_scale.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

using qmos::BSTR;
using qmos::HRESULT;

// A field of the queue data; an absent field is the empty text.
std::string Field(PH_Packet* packet, const char* name) {
  const char* value = PH_valueOf(packet, name);
  return value != nullptr ? std::string(value) : std::string();
}

// The request queues, in the order they are compared after "service_lookup_response",
// each with the send operation it calls and the fields it passes on.
struct RequestQueue {
  const char* name;
  void (*send)(PluginThread& supervisor, PH_Packet* data);
};

constexpr RequestQueue kRequestQueues[] = {
    {"mc_intercept",
     [](PluginThread& s, PH_Packet* d) {
       s.sendCALLINTERCEPT(Field(d, "call_id"), Field(d, "call_ip_address"),
                           Field(d, "transfer_number"), Field(d, "call_channel"));
     }},
    {"mc_hold_call",
     [](PluginThread& s, PH_Packet* d) {
       s.sendCALLHOLD(Field(d, "call_id"), Field(d, "call_ip_address"), Field(d, "max_hold_time"),
                      Field(d, "call_channel"));
     }},
    {"mc_take_message",
     [](PluginThread& s, PH_Packet* d) {
       s.sendCALLTAKEMESSAGE(Field(d, "call_id"), Field(d, "call_ip_address"),
                             Field(d, "call_channel"));
     }},
    {"mc_send_message",
     [](PluginThread& s, PH_Packet* d) {
       // The host's "pre_defined_msgid" travels as "pre_defined_msg".
       s.sendCALLSENDMESSAGE(Field(d, "call_id"), Field(d, "call_ip_address"),
                             Field(d, "ad_hoc_msg"), Field(d, "pre_defined_msgid"),
                             Field(d, "call_channel"));
     }},
    {"presence_monitor",
     [](PluginThread& s, PH_Packet* d) {
       s.sendPRESENCEMONITORREQUEST(Field(d, "monitor_profile"), Field(d, "service"));
     }},
    {"presence_monitor_remove",
     [](PluginThread& s, PH_Packet* d) {
       s.sendPRESENCEMONITORREMOVE(Field(d, "monitor_profile"), Field(d, "service"));
     }},
    {"presence_monitor_remove_all",
     [](PluginThread& s, PH_Packet* d) { s.sendPRESENCEMONITORREMOVEALL(Field(d, "service")); }},
    {"presence_monitor_query",
     [](PluginThread& s, PH_Packet* d) { s.sendPRESENCEMONITORQUERY(Field(d, "service")); }},
    {"send_im",
     [](PluginThread& s, PH_Packet* d) {
       s.sendSENDIM(Field(d, "destination_profile"), Field(d, "sender_name"), Field(d, "message"));
     }},
    {"mc_place_call",
     [](PluginThread& s, PH_Packet* d) {
       s.sendPLACECALL(Field(d, "callback_number"), Field(d, "target_number"));
     }},
};

// A password validation starts only while the password expires within this many days.
constexpr std::int32_t kExpiryWindowDays = 14;
// The same validation address is not validated again within this time (5 hours).
constexpr std::int64_t kValidationThrottleSeconds = 18000;

// The throttle in wall-clock seconds, scaled like every other duration (at least 1).
std::int64_t ValidationThrottleSeconds() {
  const std::int64_t ms = qmos::ScaledMs(kValidationThrottleSeconds * 1000);
  return std::max<std::int64_t>(1, (ms + 999) / 1000);
}

bool IsNonEmpty(const char* text) { return text != nullptr && *text != '\0'; }

}  // namespace

// --- Queue messages -----------------------------------------------------------------

HRESULT TVantiroImpl::Publish(BSTR queue, BSTR data) {
  if (State().PluginTerminating) return qmos::S_OK;
  try {
    const std::string queueText = qmos::BstrToUtf8(queue);
    const std::string dataText = qmos::BstrToUtf8(data);
    if (TraceEnabled())
      Trace("TVantiroImpl::Publish(): Queue=[%s] Data=[%s]", queueText.c_str(), dataText.c_str());
    return DispatchQueue(queueText, dataText);
  } catch (const std::bad_alloc&) {
    return qmos::E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    TraceSwallowedError("TVantiroImpl::Publish()", e.what());
    return qmos::E_FAIL;
  } catch (...) {
    return qmos::E_FAIL;
  }
}

HRESULT TVantiroImpl::DispatchQueue(const std::string& queue, const std::string& data) {
  const int length = data.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX
                                                                      : static_cast<int>(data.size());
  PacketHandle packet(PH_create(data.c_str(), length));
  if (!packet) throw std::bad_alloc();
  PH_Packet* const p = packet.get();

  if (queue == "service_lookup_response") {
    const char* service = PH_valueOf(p, "service_name");
    const char* host = PH_valueOf(p, "ip_address");
    const char* port = PH_valueOf(p, "tcp_port");
    ValidationAddressArrived(service, host, port);
    MultiplexorAddressArrived(service, host, port);
    return qmos::S_OK;
  }
  for (const RequestQueue& request : kRequestQueues) {
    if (queue != request.name) continue;
    // Held while it is called: the supervisor may end at this very moment. Without
    // one the request is dropped.
    if (const std::shared_ptr<PluginThread> supervisor = State().GetPluginThread())
      request.send(*supervisor, p);
    return qmos::S_OK;
  }
  if (queue == "mc_logged_out") {
    if (data.find("reason:restart") != std::string::npos) {
      RestartRequested();
    } else if (data.find("reason:abort") != std::string::npos) {
      AbortRequested();
    }
    return qmos::S_OK;
  }
  return qmos::S_FALSE;
}

void TVantiroImpl::ValidationAddressArrived(const char* service, const char* host,
                                            const char* port) {
  ProcessState& state = State();
  if (service == nullptr || std::strcmp(service, "XXX_MessageCenterAPI") != 0) return;
  if (!IsNonEmpty(port)) return;
  const std::uint16_t portNumber = PortFromText(port);
  if (state.UserAborted || !state.LoginAuthenticated) return;
  if (!IsNonEmpty(host)) return;
  if (state.DaysToExpiry > kExpiryWindowDays || state.ValidatingPassword ||
      state.PluginTerminating || !state.GetPluginThread())
    return;

  const std::uint32_t now = qmos::SecondsSince1970();
  const auto port16 = static_cast<std::int16_t>(portNumber);
  if (port16 == lastValidationPort && lastValidationHost == host &&
      static_cast<std::int64_t>(now) - static_cast<std::int64_t>(lastValidationTime) <
          ValidationThrottleSeconds()) {
    if (TraceEnabled())
      WriteTrace("VantiroImpl::Publish() too soon to validate password again, ignore IP/Port");
    return;
  }
  lastValidationPort = port16;
  lastValidationTime = now;
  lastValidationHost = host;
  if (TraceEnabled())
    WriteTrace("VantiroImpl1:Publish() to spawn a new thread to check if password expired");
  if (!state.GetPluginThread() && TraceEnabled())
    WriteTrace("VantiroImpl1::Publish() This shouldn'thappen...pluginThread=NULL");
  // A validation that has ended no longer counts as running: the next lookup answer
  // past the throttle checks the password again while it is close to its expiry.
  if (ValidatePasswordThread && ValidatePasswordThread->Finished()) ValidatePasswordThread.reset();
  if (ValidatePasswordThread) {
    if (TraceEnabled())
      WriteTrace("VantiroImpl1::Publish() Validate Password thread running...needs investigate, ignoring");
    return;
  }
  ValidatePasswordThread = qmos::TThread::StartNew<passwordValidation>(port16, std::string(host));
  if (!ValidatePasswordThread)
    Trace("VantiroImpl1::Publish() The password validation thread could not be started");
}

void TVantiroImpl::MultiplexorAddressArrived(const char* service, const char* host,
                                             const char* port) {
  if (service == nullptr || std::strcmp(service, "multiplexor") != 0) return;
  if (!IsNonEmpty(port) || !IsNonEmpty(host)) return;
  const std::uint16_t portNumber = PortFromText(port);

  ProcessState& state = State();
  // Held while it is called: the supervisor may end at this very moment.
  if (const std::shared_ptr<PluginThread> supervisor = state.GetPluginThread()) {
    supervisor->SetMultiplexorAddress(host);
    supervisor->SetMultiplexorPort(portNumber);
    if (TraceEnabled())
      WriteTrace("VantiroImpl::Publish() we got multiplexor ip/port,signal Pluginthread its safe to connect to it");
    if (auto addressEvent = state.MultiplexorAddressEvent()) addressEvent->Set();
  } else if (TraceEnabled()) {
    WriteTrace("VantiroImpl::Publish() we got mux ip/port, pluginThread not ready,ignore,PluginThread=NULL");
  }
}

void TVantiroImpl::RestartRequested() {
  ProcessState& state = State();
  state.UserAborted = false;
  if (reLoginThread) {
    reLoginThread->Terminate();
    reLoginThread.reset();
    state.LoginAuthenticated = false;
    state.ValidatingPassword = false;
    state.DaysToExpiry = 0;
    lastValidationTime = 0;
    state.MCValidate = false;
    if (ValidatePasswordThread) ValidatePasswordThread->Terminate();
    ValidatePasswordThread.reset();
  }
  const std::shared_ptr<PluginThread> supervisor = state.GetPluginThread();
  if (supervisor && !supervisor->Ending()) {
    // Publishes "mc_logged_out" with empty data, which is no restart request: the
    // host handing it back to us starts nothing.
    supervisor->multiplexorConnectionDown(2);
    TraceAlways("VantiroImpl::Publish() Restart requested,reset pluginThread()");
    return;
  }
  // A supervisor still recorded while it ends after an abort would ignore the
  // request; its successor starts now and the ending one no longer counts.
  if (supervisor)
    Trace("VantiroImpl::Publish() Restart requested while the connection thread is ending, starting a new one");
  StartSupervisor();
}

void TVantiroImpl::AbortRequested() {
  ProcessState& state = State();
  // A supervisor's own abort that the client hands back after a restart has already
  // started its successor is not meant for the successor (nor for UserAborted).
  if (state.TakeOwnAbortHandedBack()) {
    const std::shared_ptr<PluginThread> current = state.GetPluginThread();
    if (current && !current->Ending()) {
      Trace("VantiroImpl::Publish() An earlier connection's own abort came back, ignored");
      return;
    }
  }
  state.UserAborted = true;
  if (ValidatePasswordThread) {
    ValidatePasswordThread->Terminate();
    ValidatePasswordThread.reset();
  }
  // A supervisor that is already aborting is left alone: the client may hand the
  // supervisor's own "reason:abort" publication back as a request, which must not
  // publish it again (and again).
  const std::shared_ptr<PluginThread> supervisor = state.GetPluginThread();
  if (supervisor && !supervisor->aborting()) supervisor->AbortConnection();
}

}  // namespace vantiro
