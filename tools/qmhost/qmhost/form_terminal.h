// Modal forms at the terminal (--interactive): the form is drawn on the terminal
// (/dev/tty; on Windows the console), never on the command input or the event
// lines, and the person acts on it in a small prompt language. Every entry is
// applied through the form's own actions, so the handlers run as they would on
// screen, and the form is drawn again after each one until it has a modal result.
//
// No password is ever shown: the form is drawn from its observed state (password
// edits masked), a password edit's text is read with the terminal's echo off, and
// a typed line that would carry one in sight is refused.
//
// Main thread only, like the presenter that calls it.
#pragma once

#include <string>
#include <string_view>

#include "qmhost/command.h"
#include "qmos/form.h"

namespace qmhost {

// What one line entered at the form prompt asks for.
struct FormPromptEntry {
  enum class Kind {
    Nothing,    // an empty line
    Apply,      // apply action
    AskText,    // ask for the text of control (an edit box)
    AskHidden,  // the same, read without showing it (a password edit)
    AskItem,    // ask for the item of control (a combo box)
    Show,       // draw the form again
    Help,       // list the prompt language
    Cancel,     // press the cancel button, as Esc does
    Refused,    // message says why
  };
  Kind kind = Kind::Nothing;
  FormAction action;    // Apply
  std::string control;  // Ask*
  std::string message;  // Refused
};

// Reads one prompt line against the form as it stands: "type NAME TEXT",
// "check NAME 0|1", "select NAME TEXT", "click NAME" (as in the `form` command),
// the keywords "show", "cancel", "?" and "help", or a control's name alone (an edit
// or combo box: ask for its text or item; a check box or button: click it). A
// control's name alone is refused at once when it is missing, hidden or disabled,
// so that nobody is asked for a password that cannot be used.
FormPromptEntry ParseFormPrompt(const qmos::Form& form, std::string_view line);

// Draws the form on the terminal and applies what the person enters until the form has
// a modal result; end of input at the terminal closes it by its cancel button.
// False, with the form untouched, when there is no terminal.
bool RunFormOnTerminal(qmos::Form& form);

// The lines "?" prints.
const char* FormPromptHelpText();

}  // namespace qmhost
