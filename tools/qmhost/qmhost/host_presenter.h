// What the host shows of the application object. Message boxes are answered from
// the script's queue of `box` results (1, OK, when none is queued) or, in
// interactive mode, by the user at the terminal. Modal forms are acted on with the
// next action list queued for their class name, or in interactive mode at the
// terminal, and closed by their cancel button when nothing answers them; each
// showing writes the `form` event as it is shown and as it closes. Caption changes
// and URL openings are reported as events.
//
// With real windows (qmhost --windows) the boxes and forms are the system's
// windows, and the same queued answers and actions are applied to them through the
// window system (WindowDriver); the events then report what the windows show.
//
// Called on the main thread only (the application object sees to that); the queues
// are filled by commands, also on the main thread, and are guarded all the same.
// The lock is never held while a form's handlers run: a button's handler may show
// a message box, which takes the next `box` result as usual.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qmhost/command.h"
#include "qmhost/window_driver.h"
#include "qmos/presenter.h"

namespace qmhost {

class EventWriter;

class HostPresenter final : public qmos::Presenter {
 public:
  // windows: boxes and forms are real windows, driven by the window driver.
  HostPresenter(EventWriter& events, bool interactive, bool windows = false);
  ~HostPresenter() override;

  int ShowMessageBox(const std::string& text, const std::string& title, unsigned flags) override;
  void CaptionChanged(const std::string& text) override;
  bool OpenUrl(const std::string& url) override;
  int ShowForm(qmos::Form& form) override;

  // The next message box is closed with result.
  void QueueBoxResult(int result);
  // Actions for the next showing of form name (each call queues one showing).
  void QueueFormActions(const std::string& name, std::vector<FormAction> actions);
  std::size_t QueuedFormShowings(const std::string& name) const;

 private:
  // The next action list queued for form name, taken off its queue; none when
  // nothing is queued for that name.
  std::optional<std::vector<FormAction>> TakeFormActions(const std::string& name);
  // Applies actions in order until the form has a modal result; the first that
  // fails writes `error` and closes the form by its cancel button.
  void ApplyScriptedActions(qmos::Form& form, const std::vector<FormAction>& actions);

  EventWriter& events_;
  const bool interactive_;
  std::unique_ptr<WindowDriver> windows_;  // with real windows only
  mutable std::mutex mutex_;
  std::deque<int> boxResults_;
  std::map<std::string, std::deque<std::vector<FormAction>>> formActions_;
};

// The lines of a message box as the terminal shows it: the title, the text line by
// line (both with their control characters escaped), and the buttons.
std::string DrawMessageBox(const std::string& text, const std::string& title, unsigned flags);

// Draws a message box on the terminal (/dev/tty; on Windows the console) with the buttons its flags imply
// and reads the user's choice there: a button's number, its name or its first
// letter; an empty answer takes the default button. 0 when there is no terminal.
int AskMessageBoxOnTerminal(const std::string& text, const std::string& title, unsigned flags);

}  // namespace qmhost
