#include "connection/failure_notices.h"

#include <cstring>

#include "qmos/application.h"
#include "qmos/message_box.h"

namespace vantiro {

namespace {

// Exclamation icon with an OK button (48), or the stop icon, system-modal (4112).
constexpr unsigned kWarning = qmos::MB_OK | qmos::MB_ICONEXCLAMATION;
constexpr unsigned kStopSystemModal = qmos::MB_OK | qmos::MB_ICONHAND | qmos::MB_SYSTEMMODAL;
static_assert(kWarning == 48 && kStopSystemModal == 4112, "message-box styles of the notices");

// Indexed by notice number; entry 0 is unused. The texts are shown as they stand,
// spaces included.
constexpr NoticeText kNotices[] = {
    {"", "", 0},
    {"Mailbox Locked",
     "There have been too many failed login attempts and your Rirezer Uduzor mailbox is locked.",
     kWarning},
    {"Login Failed",
     "Failed to log in to Rirezer Uduzor.  This does not necessarily mean that your password is "
     "invalid.  Rirezer Uduzor may be unavailable.",
     kWarning},
    {"Cannot Authenticate at this time",
     "Failed to log in to Rirezer Uduzor. This does not necessarily mean that your password is "
     "invalid.  Rirezer Uduzor may be unavailable. ",
     kStopSystemModal},
    {"Transfer Failed",
     "The request to transfer the caller could not be delivered to Rirezer Uduzor.", kWarning},
    {"Callback Failed", "The callback number is not authorized for this site.", kWarning},
    {"Callback Failed",
     "The number of the person you are calling is not authorized for this site.", kWarning},
    {"Transfer Failed", "The transfer number is not authorized for this site.", kWarning},
    {"Login Failed",
     "The request to place the caller on hold could not be delivered to Rirezer Uduzor.", kWarning},
    {"Login Failed",
     "The request to have the caller leave a voice message could not be delivered to Rirezer "
     "Uduzor.",
     kWarning},
    {"Login Failed",
     "The request to play a message to the caller could not be delivered to Rirezer Uduzor.",
     kWarning},
    {"Cannot Monitor Subscriber", "The requested subscriber could not be monitored.", kWarning},
    {"Cannot Stop Monitoring Subscriber",
     "The request to stop monitoring the susbscriber failed.", kWarning},
    {"Cannot Stop Monitoring Subscribers",
     "The request to stop monitoring all susbscribers failed.", kWarning},
};

constexpr int kNoticeCount = static_cast<int>(sizeof kNotices / sizeof kNotices[0]) - 1;

bool ResultIs(const char* value, const char* expected) {
  return value != nullptr && std::strcmp(value, expected) == 0;
}

}  // namespace

const NoticeText* FailureNoticeText(FailureNotice notice) {
  const int number = static_cast<int>(notice);
  if (number < 1 || number > kNoticeCount) return nullptr;
  return &kNotices[number];
}

void ShowFailureNotice(FailureNotice notice) {
  const NoticeText* shown = FailureNoticeText(notice);
  if (shown == nullptr) return;
  qmos::Application::Instance().MessageBox(shown->text, shown->title, shown->flags);
}

FailureNotice NoticeForAnswer(const std::string& command, const char* result) {
  const bool ok = ResultIs(result, "ok");
  if (command == "call_intercept") {
    if (ok) return FailureNotice::None;
    return ResultIs(result, "unauthorized_number") ? FailureNotice::TransferNumberUnauthorized
                                             : FailureNotice::TransferFailed;
  }
  if (command == "place_call") {
    if (ResultIs(result, "unauthorized_number")) return FailureNotice::CalledNumberUnauthorized;
    if (ResultIs(result, "unauthorized_callback_number")) return FailureNotice::CallbackNumberUnauthorized;
    return FailureNotice::None;
  }
  struct FailsWith {
    const char* command;
    FailureNotice notice;
  };
  static constexpr FailsWith kNotOk[] = {
      {"call_hold", FailureNotice::HoldFailed},
      {"call_take_message", FailureNotice::TakeMessageFailed},
      {"call_send_message", FailureNotice::PlayMessageFailed},
      {"presence_monitor_request", FailureNotice::MonitorFailed},
      {"presence_monitor_remove", FailureNotice::StopMonitoringFailed},
      {"presence_monitor_remove_all", FailureNotice::StopMonitoringAllFailed},
  };
  for (const FailsWith& row : kNotOk) {
    if (command == row.command) return ok ? FailureNotice::None : row.notice;
  }
  return FailureNotice::None;
}

}  // namespace vantiro
