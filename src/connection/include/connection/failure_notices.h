// The failure notices: the only way the user learns that a request to the
// multiplexor failed or that a login was refused. Each is a fixed title, text and
// message-box style, numbered as the reader's decision tables refer to them.
#pragma once

#include <string>

namespace vantiro {

enum class FailureNotice {
  None = 0,
  MailboxLocked = 1,
  LoginFailed = 2,
  CannotAuthenticate = 3,
  TransferFailed = 4,
  CallbackNumberUnauthorized = 5,
  CalledNumberUnauthorized = 6,
  TransferNumberUnauthorized = 7,
  HoldFailed = 8,
  TakeMessageFailed = 9,
  PlayMessageFailed = 10,
  MonitorFailed = 11,
  StopMonitoringFailed = 12,
  StopMonitoringAllFailed = 13,
};

struct NoticeText {
  const char* title;
  const char* text;
  unsigned flags;  // message-box flags
};

// The title, text and flags of a notice; null for None or a number out of range.
const NoticeText* FailureNoticeText(FailureNotice notice);

// Shows the notice as a modal message box and ignores the button that closed it.
// Runs on the main thread (the reader gets there through Synchronize).
void ShowFailureNotice(FailureNotice notice);

// The notice that the multiplexor's answer `result` to a request `command` calls
// for, or None. Not for the login answer, which has its own rules. A missing result
// (null) matches no named result.
FailureNotice NoticeForAnswer(const std::string& command, const char* result);

}  // namespace vantiro
