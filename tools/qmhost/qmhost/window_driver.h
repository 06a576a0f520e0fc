// The host's hands on real windows (qmhost --windows): the plug-in's forms and
// message boxes are the system's windows there, and the host acts on them through
// the window system as a person would. A form is found by its window class (the
// form's class name) and its caption, a control by the name its window carries
// (qmos/window_names.h); text is put into an edit box as a paste would, buttons and
// check boxes are clicked, items chosen, Esc pressed. The `form` events report what
// the windows show.
//
// The driver runs on the main thread, inside the modal loops of the windows it
// drives: a timer of its own window brings it back every few milliseconds while a
// form or a box is up, and it acts on the innermost one.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qmhost/command.h"

namespace qmos {
class Form;
}

namespace qmhost {

class EventWriter;

class WindowDriver {
 public:
  explicit WindowDriver(EventWriter& events);
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  // Runs show (which shows the system's message box titled title) and meanwhile
  // presses the box's button answer; with answer 0 the box is left to the person at
  // the screen. A box without that button gets its default button. Returns what
  // show returned.
  int DriveMessageBox(const std::string& title, int answer, const std::function<int()>& show);

  // Runs show (which shows form as its real window) and meanwhile finds the window,
  // writes the `form` event as shown, applies actions in order until the form
  // closes, and then, unless leftToPerson (or when an action failed), closes it by
  // its cancel button: Esc, and the close command when Esc left it open. Writes the
  // `form` event as closed from the hidden window and returns what show returned.
  int DriveForm(qmos::Form& form, const std::vector<FormAction>& actions, bool leftToPerson,
                const std::function<int()>& show);

  // The title of the host's main window as the window system has it.
  std::string MainWindowTitle() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Makes the host's main window, shows it with the application's caption and names
// it to libqmos (Application::SetMainWindow). False, with the reason, where there
// is no window system for it (builds other than Windows).
bool OpenMainWindow(std::string& error);

}  // namespace qmhost
