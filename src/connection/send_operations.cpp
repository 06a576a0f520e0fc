// The supervisor's send operations: one packet per request, handed to the writer.
#include "connection/packet_handle.h"
#include "connection/PluginThread.h"
#include "connection/WriteThread.h"
#include "diag/trace_log.h"
#include "packet.h"
#include "qmos/secure_clear.h"

namespace vantiro {

std::string PluginThread::Profile() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return profile_;
}

std::string PluginThread::Password() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return password_;
}

void PluginThread::TraceSending(const char* operation, const char* packetName) {
  Trace("PluginThread::%s(): Sending %s packet", operation, packetName);
}

bool PluginThread::QueueRequest(const char* command, std::initializer_list<Field> fields) {
  // Not connected, or no writer: the request is dropped, not kept for later.
  if (!connected_) return false;
  const std::shared_ptr<WriteThread> writer = Writer();
  if (!writer) return false;

  std::string profile, password;
  const qmos::ClearOnExit clearPassword(password);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    profile = profile_;
    password = password_;
  }
  PacketHandle packet(PH_create_empty());
  if (!packet) return false;
  PH_add(packet.get(), "profile", profile.c_str());
  PH_add(packet.get(), "password", password.c_str());
  PH_add(packet.get(), "command", command);
  for (const Field& field : fields) PH_add(packet.get(), field.first, field.second->c_str());

  writer->QueuePacket(packet.release());  // the writer owns it now
  return true;
}

void PluginThread::sendHELLO() {
  TraceSending("sendHELLO", "HELLO");
  if (!connected_ || !HasWriter()) return;
  // The login's credentials, kept for every later packet of this connection. The
  // host is asked without our lock held.
  std::string profile = GetHostData("mc_profile");
  std::string password = GetHostData("mc_password");
  {
    std::lock_guard<std::mutex> guard(mutex_);
    profile_ = std::move(profile);
    qmos::SecureClear(password_);  // the previous login's
    password_ = std::move(password);
  }
  qmos::SecureClear(password);  // what a short text's move leaves behind
  if (!QueueRequest("hello", {})) return;
  Trace("PluginThread::sendHELLO(): Queued HELLO packet");
  Trace("PluginThread::sendHELLO(): Signalling HELLO packet");
  somethingToWriteEvent_->Set();
  Trace("PluginThread::sendHELLO(): Signalled HELLO packet");
  Trace("PluginThread::sendHELLO():checkoutstanding packets ignored");
}

void PluginThread::sendHEARTBEAT() {
  TraceSending("sendHEARTBEAT", "HEARTBEAT");
  if (QueueRequest("heartbeat", {})) somethingToWriteEvent_->Set();
}

void PluginThread::sendQUIT() {
  TraceSending("sendQUIT", "QUIT");
  if (QueueRequest("quit", {})) somethingToWriteEvent_->Set();
}

void PluginThread::sendCALLHOLD(const std::string& call_id, const std::string& call_ip_address,
                                const std::string& max_hold_time, const std::string& call_channel) {
  TraceSending("sendCALLHOLD", "CALL_HOLD");
  if (QueueRequest("call_hold", {{"call_ip_address", &call_ip_address},
                                 {"call_channel", &call_channel},
                                 {"call_id", &call_id},
                                 {"max_hold_time", &max_hold_time}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendCALLTAKEMESSAGE(const std::string& call_id,
                                       const std::string& call_ip_address,
                                       const std::string& call_channel) {
  TraceSending("sendCALLTAKEMESSAGE", "CALL_TAKE_MESSAGE");
  if (QueueRequest("call_take_message", {{"call_ip_address", &call_ip_address},
                                         {"call_channel", &call_channel},
                                         {"call_id", &call_id}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendCALLSENDMESSAGE(const std::string& call_id,
                                       const std::string& call_ip_address,
                                       const std::string& ad_hoc_msg,
                                       const std::string& pre_defined_msg,
                                       const std::string& call_channel) {
  TraceSending("sendCALLSENDMESSAGE", "CALL_SEND_MESSAGE");
  if (QueueRequest("call_send_message", {{"call_ip_address", &call_ip_address},
                                         {"call_channel", &call_channel},
                                         {"pre_defined_msg", &pre_defined_msg},
                                         {"ad_hoc_msg", &ad_hoc_msg},
                                         {"call_id", &call_id}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendCALLINTERCEPT(const std::string& call_id, const std::string& call_ip_address,
                                     const std::string& transfer_number,
                                     const std::string& call_channel) {
  TraceSending("sendCALLINTERCEPT", "CALL_INTERCEPT");
  if (QueueRequest("call_intercept", {{"call_ip_address", &call_ip_address},
                                      {"call_channel", &call_channel},
                                      {"transfer_number", &transfer_number},
                                      {"call_id", &call_id}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendPLACECALL(const std::string& callback_number,
                                 const std::string& target_number) {
  TraceSending("sendPLACECALL", "PLACE_CALL");
  if (QueueRequest("place_call", {{"callback_number", &callback_number},
                                  {"target_number", &target_number}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendPRESENCEMONITORREQUEST(const std::string& monitor_profile,
                                              const std::string& service) {
  TraceSending("sendPRESENCEMONITORREQUEST", "PRESENCE_MONITOR_REQUEST");
  if (QueueRequest("presence_monitor_request",
                   {{"service", &service}, {"monitor_profile", &monitor_profile}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendPRESENCEMONITORREMOVE(const std::string& monitor_profile,
                                             const std::string& service) {
  TraceSending("sendPRESENCEMONITORREMOVE", "PRESENCE_MONITOR_REMOVE");
  if (QueueRequest("presence_monitor_remove",
                   {{"service", &service}, {"monitor_profile", &monitor_profile}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendPRESENCEMONITORREMOVEALL(const std::string& service) {
  TraceSending("sendPRESENCEMONITORREMOVEALL", "PRESENCE_MONITOR_REMOVE_ALL");
  if (QueueRequest("presence_monitor_remove_all", {{"service", &service}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendPRESENCEMONITORQUERY(const std::string& service) {
  TraceSending("sendPRESENCEMONITORQUERY", "PRESENCE_MONITOR_QUERY");
  if (QueueRequest("presence_monitor_query", {{"service", &service}}))
    somethingToWriteEvent_->Set();
}

void PluginThread::sendOFFLINEACTIVITYREQUEST() {
  TraceSending("sendOFFLINEACTIVITYREQUEST", "OFFLINEACTIVITYREQUEST");
  if (QueueRequest("offline_activity_request", {})) somethingToWriteEvent_->Set();
}

void PluginThread::sendSENDIM(const std::string& destination_profile,
                              const std::string& sender_name, const std::string& message) {
  TraceSending("sendSENDIM", "SENDIM");
  if (QueueRequest("send_im", {{"destination_profile", &destination_profile},
                               {"sender_name", &sender_name},
                               {"message", &message}}))
    somethingToWriteEvent_->Set();
}

}  // namespace vantiro
