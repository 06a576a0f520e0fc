// What the user sees of the application object: message boxes, the main window's
// caption, opening a URL, restoring the window and bringing it to the front. The
// host installs a presenter (Application::SetPresenter): a scripted one for tests
// and batch runs, a terminal one for people. The application object calls it on
// the main thread only.
//
// Every method has a default, which is what a host without a presenter gets.
// On Windows the defaults are the system's windows: the system's message box and a
// real modal window for a form (see ui/win32/form_window.cpp), both owned by the
// host's main window (Application::MainWindow), whose title is the caption and which
// Restore and BringToFront act on; OpenUrl is the shell's "open". Elsewhere a
// message box is written to standard error and answered with its first button; the
// caption, Restore and BringToFront draw nothing; OpenUrl runs "xdg-open URL" (no
// shell); a modal form is closed by its cancel button (Form::CloseByCancel: the
// button is pressed and its handler runs) and a line saying so is written to
// standard error. A presenter overrides what it draws; new kinds of output are
// added as further virtual methods with defaults.
#pragma once

#include <string>

namespace qmos {

class Form;

class Presenter {
 public:
  virtual ~Presenter() = default;

  // Shows a modal message box and returns the button pressed (IDOK, IDYES ...).
  virtual int ShowMessageBox(const std::string& text, const std::string& title, unsigned flags);
  // The main window's caption is now text.
  virtual void CaptionChanged(const std::string& text);
  // The shell's "Open" of url; false when it could not be started.
  virtual bool OpenUrl(const std::string& url);
  // The main window is restored from minimised state / brought to the front.
  virtual void Restore();
  virtual void BringToFront();
  // Shows form modally and returns the modal result it closed with. A presenter
  // applies the user's actions through the form's action methods (Form::TypeText,
  // Form::Click ...) until the form has a ModalResult. Esc is Form::PressCancel.
  // When nobody answers any more it calls Form::CloseByCancel, or returns with the
  // form still open (mrNone) and Form::ShowModal does.
  virtual int ShowForm(Form& form);
};

// Runs the desktop's URL opener ("xdg-open", found on PATH) on url without a shell
// and waits a short time for its answer. False when url is empty or starts with '-'
// (it would read as an option), when the opener cannot be started, or when it ends
// with a failure status. An opener still running after the wait counts as started;
// it is reaped in the background.
bool RunUrlOpener(const std::string& url, std::string* error = nullptr);

}  // namespace qmos
