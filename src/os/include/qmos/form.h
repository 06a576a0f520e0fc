// A modal form: its properties, the controls it owns, its modal result, showing it
// modally through the installed presenter, and the actions a presenter (or a test)
// applies to it as a person would.
//
// Ownership: the form owns its controls (Add); look them up by name. Whoever made
// the form owns it; it must outlive ShowModal.
// Threads: the form is used on one thread at a time. ShowModal runs on the main
// thread: called elsewhere it goes there as Application::Synchronize does and the
// caller waits, so the presenter and the handlers run on the main thread while the
// caller touches nothing.
//
// Closing: clicking a button with a modal result, or setting ModalResult, closes
// the form (ShowModal returns it). Esc presses the cancel button (PressCancel): its
// click handler runs as for a click, and may keep the form open. A form nobody
// answers any more (no actions left, end of input) is closed by its cancel button
// (CloseByCancel): the button is pressed, and when that leaves the form open (no
// cancel button, one that is hidden or disabled, or a handler that kept the form
// open) the form closes with CancelResult() without anything else running. It
// presses the button at most once, so a form always closes.
#pragma once

#include <memory>
#include <stdexcept>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "qmos/button.h"
#include "qmos/check_box.h"
#include "qmos/combo_box.h"
#include "qmos/control.h"
#include "qmos/edit.h"
#include "qmos/form_action.h"
#include "qmos/form_state.h"
#include "qmos/label.h"

namespace qmos {

// Modal results, with the values the Windows toolkit gives them.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrAbort = 3;
inline constexpr int mrRetry = 4;
inline constexpr int mrIgnore = 5;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

enum class BorderStyle { None, Single, Sizeable, Dialog };

// What the window system keeps for a form between its showings: on Windows, the
// form's window, which stays (hidden) from its first showing until the form goes,
// as the toolkit's forms do. It goes with the form.
class FormPeer {
 public:
  virtual ~FormPeer() = default;
};
enum class FormPosition { Designed, ScreenCenter, MainFormCenter };

class Form {
 public:
  explicit Form(std::string className) : className_(std::move(className)) {}
  virtual ~Form() = default;
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& ClassName() const { return className_; }

  // Makes a control named name (T is Label, Edit, CheckBox, ComboBox or Button) and
  // returns it. Throws std::invalid_argument for an empty name or one in use.
  template <class T>
  T& Add(std::string name) {
    std::unique_ptr<T> control(new T(*this, std::move(name)));
    T& added = *control;
    Adopt(std::move(control));
    return added;
  }
  // The control named name; nullptr when there is none (or, for Get, it is of
  // another kind).
  Control* Find(const std::string& name) const;
  template <class T>
  T* Get(const std::string& name) const {
    return dynamic_cast<T*>(Find(name));
  }
  // Every control, in the order they were added.
  std::vector<Control*> Controls() const;
  // The buttons marked isDefault / isCancel (the first one added); nullptr if none.
  Button* DefaultButton() const;
  Button* CancelButton() const;

  int ModalResult() const { return modalResult_; }
  void SetModalResult(int result) { modalResult_ = result; }
  // The result the form closes with when closed by its cancel button: the modal
  // result of the button marked isCancel, or mrCancel when there is none or it has
  // none.
  int CancelResult() const;
  // Esc: presses the cancel button as a click would (Button::Click) when the form is
  // open and the button is there, visible and enabled. True when the form is closed
  // afterwards; a form closed already stays as it is.
  bool PressCancel();
  // Nobody answers the form any more: PressCancel, and when the form is still open
  // after it, ModalResult becomes CancelResult(). Returns the modal result.
  int CloseByCancel();

  // Shows the form modally through the installed presenter and returns how it was
  // closed. ModalResult is reset to mrNone first, so a form can be shown again. A
  // presenter that returns mrNone leaves the form's own ModalResult. Returns mrNone
  // (nothing shown) when
  // called off the main thread after the main-thread queue stopped being served.
  // A presenter that returns with the form still open leaves it to CloseByCancel.
  int ShowModal();
  // Brings the form above other windows. The presenter draws a modal form on top
  // anyway; kept for code written for a window system.
  void BringToFront() {}

  // ---- Actions, as a person would apply them ----
  // Each fails, changing nothing, when the form is closed (has a modal result) or
  // the control is missing, of another kind, hidden or disabled.

  // Replaces the text of an edit box, or of a DropDown combo box, as typing would.
  ActionResult TypeText(const std::string& control, const std::string& text);
  // Sets a check box; onClick runs when its state changes.
  ActionResult SetChecked(const std::string& control, bool checked);
  // Chooses the combo box item with that text (letter case aside); onChange runs.
  ActionResult SelectItem(const std::string& control, const std::string& text);
  // Presses a button (Button::Click) or toggles a check box.
  ActionResult Click(const std::string& control);

  // What an observer may see of the form and every control.
  FormState Observe() const;

  // The window system's side of the form; nullptr until something shows it there.
  FormPeer* Peer() const { return peer_.get(); }
  void SetPeer(std::unique_ptr<FormPeer> peer) { peer_ = std::move(peer); }

  std::string caption;
  int clientWidth = 0;
  int clientHeight = 0;
  Font font;
  BorderStyle borderStyle = BorderStyle::Sizeable;
  bool borderIcons = true;  // system menu and close box
  bool stayOnTop = false;
  FormPosition position = FormPosition::Designed;

 private:
  friend class Control;
  void Adopt(std::unique_ptr<Control> control);
  // The control if an action may be applied to it; otherwise nullptr and why.
  Control* Usable(const std::string& name, std::initializer_list<ControlKind> kinds,
                  ActionResult& result) const;

  std::string className_;
  std::vector<std::unique_ptr<Control>> controls_;
  int modalResult_ = mrNone;
  int topZOrder_ = 0;
  // Declared after the controls, so it goes before them.
  std::unique_ptr<FormPeer> peer_;
};

}  // namespace qmos
