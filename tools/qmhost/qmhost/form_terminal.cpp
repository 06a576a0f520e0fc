#include "qmhost/form_terminal.h"

#include <algorithm>
#include <charconv>

#include "qmhost/event_format.h"
#include "qmhost/form_actions.h"
#include "qmhost/terminal.h"
#include "qmos/secure_clear.h"

namespace qmhost {

namespace {

// Longer lines are refused: no form field needs them, and the buffer stays small.
constexpr std::size_t kMaxTerminalLine = 64 * 1024;

// Names and prompts that come from a dialog's code are shown through EscapeText, so
// that they cannot steer the terminal. A password read at the terminal is cleared
// from every buffer it passed through (qmos::SecureClear).

bool IsPassword(const qmos::Control& control) {
  const auto* edit = dynamic_cast<const qmos::Edit*>(&control);
  return edit != nullptr && edit->passwordChar != '\0';
}

FormPromptEntry Entry(FormPromptEntry::Kind kind) {
  FormPromptEntry entry;
  entry.kind = kind;
  return entry;
}

FormPromptEntry Refused(std::string message) {
  FormPromptEntry entry = Entry(FormPromptEntry::Kind::Refused);
  entry.message = std::move(message);
  return entry;
}

std::string FailureText(qmos::ActionFailure failure, const std::string& control) {
  return qmos::ActionResult{failure, control}.Message();
}

// A control's name alone: what using that control means.
FormPromptEntry ParseControlName(const qmos::Form& form, const std::string& name) {
  const qmos::Control* control = form.Find(name);
  if (control == nullptr)
    return Refused("no command or control " + QuoteText(name) + " (enter ? for help)");
  if (!control->visible) return Refused(FailureText(qmos::ActionFailure::Hidden, name));
  if (!control->enabled) return Refused(FailureText(qmos::ActionFailure::Disabled, name));
  FormPromptEntry entry;
  entry.control = name;
  switch (control->Kind()) {
    case qmos::ControlKind::Edit:
      entry.kind = IsPassword(*control) ? FormPromptEntry::Kind::AskHidden
                                        : FormPromptEntry::Kind::AskText;
      return entry;
    case qmos::ControlKind::ComboBox:
      entry.kind = FormPromptEntry::Kind::AskItem;
      return entry;
    case qmos::ControlKind::CheckBox:
    case qmos::ControlKind::Button:
      entry.kind = FormPromptEntry::Kind::Apply;
      entry.action.kind = FormAction::Kind::Click;
      entry.action.control = name;
      return entry;
    case qmos::ControlKind::Label:
      break;
  }
  return Refused(FailureText(qmos::ActionFailure::WrongKind, name));
}

// ---- The terminal ----

// The terminal's echo, off for as long as the object lives: what is typed then is
// not shown. The line feed that ends the line still is.
class HiddenTyping {
 public:
  explicit HiddenTyping(Terminal& terminal) : terminal_(terminal), active_(terminal.HideTyping()) {}
  ~HiddenTyping() {
    if (active_) terminal_.ShowTyping();
  }
  HiddenTyping(const HiddenTyping&) = delete;
  HiddenTyping& operator=(const HiddenTyping&) = delete;
  bool Active() const { return active_; }

 private:
  Terminal& terminal_;
  bool active_;
};

class FormTerminal {
 public:
  FormTerminal(Terminal& terminal, qmos::Form& form) : terminal_(terminal), form_(form) {}
  void Run();

 private:
  void Write(const std::string& text) { terminal_.Write(text); }
  // Asks with prompt; false at end of input. An over-long answer counts as none.
  bool Ask(const std::string& prompt, std::string& answer);
  void Draw();
  // Applies the action and says how it went; the form is drawn again after it.
  void Apply(const FormAction& action);
  bool AskText(const std::string& control, bool hidden);
  bool AskItem(const std::string& control);
  void CloseByCancel(const char* why);

  Terminal& terminal_;
  qmos::Form& form_;
};

bool FormTerminal::Ask(const std::string& prompt, std::string& answer) {
  Write(prompt);
  switch (terminal_.ReadLine(answer, kMaxTerminalLine)) {
    case Terminal::Read::Line: return true;
    case Terminal::Read::TooLong:
      Write("! too long; ignored\n");
      answer.clear();
      return true;
    case Terminal::Read::End: break;
  }
  return false;
}

void FormTerminal::Draw() {
  const qmos::FormState state = form_.Observe();  // password edits come masked
  std::size_t nameWidth = 0;
  for (const qmos::ControlState& control : state.controls)
    if (control.visible) nameWidth = std::max(nameWidth, control.name.size());
  std::string out = "\n+--- " + QuoteText(state.caption) + " (" + EscapeText(state.className) + ")\n";
  for (const qmos::ControlState& control : state.controls) {
    if (!control.visible) continue;
    std::string line = "| " + EscapeText(control.name);
    line.append(nameWidth - control.name.size() + 2, ' ');
    line += control.kind;
    line.append(control.kind.size() < 10 ? 10 - control.kind.size() : 1, ' ');
    line += QuoteText(control.text);
    const qmos::Control* live = form_.Find(control.name);
    if (live != nullptr && IsPassword(*live)) line += "  password";
    if (control.checked) line += *control.checked ? "  [x]" : "  [ ]";
    if (control.items) {
      line += "  " + control.style + ":";
      for (const std::string& item : *control.items) line += " " + QuoteText(item);
    }
    if (!control.hint.empty()) line += "  hint " + QuoteText(control.hint);
    if (!control.enabled) line += "  (disabled)";
    out += line + "\n";
  }
  out += "+--- ? for help\n";
  Write(out);
}

void FormTerminal::Apply(const FormAction& action) {
  const qmos::ActionResult done = ApplyFormAction(form_, action);
  if (!done.Ok()) {
    Write("! " + done.Message() + "\n");
    return;
  }
  if (form_.ModalResult() == qmos::mrNone) Draw();
}

bool FormTerminal::AskText(const std::string& control, bool hidden) {
  std::string text;
  bool more = true;
  if (!hidden) {
    more = Ask(EscapeText(control) + ": ", text);
  } else {
    const HiddenTyping quiet(terminal_);
    if (!quiet.Active()) {
      Write("! this terminal cannot hide typing; the password is not asked for here\n");
      return true;
    }
    // Written once the echo is off, so that nothing typed after the prompt shows.
    more = Ask(EscapeText(control) + " (typing is not shown): ", text);
    terminal_.WipeReadBuffer();  // the line's bytes stay in the buffer's spare room
  }
  if (more && text.empty()) {
    Write("(left as it is)\n");
  } else if (more) {
    FormAction action;
    action.kind = FormAction::Kind::Type;
    action.control = control;
    action.text = text;
    Apply(action);
    if (hidden) qmos::SecureClear(action.text);
  }
  // Once typed, the edit box holds the password; the copies read here are cleared.
  if (hidden) qmos::SecureClear(text);
  return more;
}

bool FormTerminal::AskItem(const std::string& control) {
  const auto* combo = form_.Get<qmos::ComboBox>(control);
  if (combo == nullptr) return true;  // ParseFormPrompt named a combo box
  std::string list;
  for (std::size_t i = 0; i < combo->Items().size(); ++i)
    list += "  " + std::to_string(i + 1) + " " + QuoteText(combo->Items()[i]);
  Write(list + "\n");
  std::string answer;
  if (!Ask(EscapeText(control) + " item (number or text): ", answer)) return false;
  if (answer.empty()) {
    Write("(left as it is)\n");
    return true;
  }
  FormAction action;
  action.kind = FormAction::Kind::Select;
  action.control = control;
  action.text = answer;
  std::size_t number = 0;
  const auto [end, ec] = std::from_chars(answer.data(), answer.data() + answer.size(), number);
  if (ec == std::errc() && end == answer.data() + answer.size() && number >= 1 &&
      number <= combo->Items().size()) {
    action.text = combo->Items()[number - 1];
  } else if (combo->IndexOf(answer) < 0 && combo->Style() == qmos::ComboStyle::DropDown) {
    action.kind = FormAction::Kind::Type;  // free text, which a DropDown box takes
  }
  Apply(action);
  return true;
}

void FormTerminal::CloseByCancel(const char* why) {
  form_.CloseByCancel();
  Write(std::string("(") + why + ": closed by the cancel button)\n");
}

void FormTerminal::Run() {
  Draw();
  const std::string prompt = EscapeText(form_.ClassName()) + "> ";
  while (form_.ModalResult() == qmos::mrNone) {
    std::string line;
    if (!Ask(prompt, line)) {
      CloseByCancel("end of input");
      return;
    }
    const FormPromptEntry entry = ParseFormPrompt(form_, line);
    bool more = true;
    switch (entry.kind) {
      case FormPromptEntry::Kind::Nothing: break;
      case FormPromptEntry::Kind::Apply: Apply(entry.action); break;
      case FormPromptEntry::Kind::AskText: more = AskText(entry.control, false); break;
      case FormPromptEntry::Kind::AskHidden: more = AskText(entry.control, true); break;
      case FormPromptEntry::Kind::AskItem: more = AskItem(entry.control); break;
      case FormPromptEntry::Kind::Show: Draw(); break;
      case FormPromptEntry::Kind::Help: Write(FormPromptHelpText()); break;
      case FormPromptEntry::Kind::Cancel:
        // Esc: the cancel button's handler may keep the form open.
        if (!form_.PressCancel()) {
          Write("(the cancel button left the form open)\n");
          Draw();
        }
        break;
      case FormPromptEntry::Kind::Refused: Write("! " + entry.message + "\n"); break;
    }
    if (!more) {
      CloseByCancel("end of input");
      return;
    }
  }
  Write("(closed with result " + std::to_string(form_.ModalResult()) + ")\n");
}

}  // namespace

FormPromptEntry ParseFormPrompt(const qmos::Form& form, std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const auto first = line.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  line.remove_prefix(first);
  // One word: a keyword, or a control's name alone. An action's verb alone falls
  // through, so that its parser says what is missing.
  const auto blank = line.find(' ');
  const std::string word(line.substr(0, blank));
  const bool oneWord = blank == std::string_view::npos ||
                       line.find_first_not_of(' ', blank) == std::string_view::npos;
  if (oneWord) {
    if (word == "show") return Entry(FormPromptEntry::Kind::Show);
    if (word == "?" || word == "help") return Entry(FormPromptEntry::Kind::Help);
    if (word == "cancel") return Entry(FormPromptEntry::Kind::Cancel);
    if (word != "type" && word != "check" && word != "select" && word != "click")
      return ParseControlName(form, word);
  }
  std::string error;
  auto action = ParseFormAction(line, error);
  if (!action) return Refused(error);
  const qmos::Control* control = form.Find(action->control);
  if (action->kind == FormAction::Kind::Type && !action->text.empty() && control != nullptr &&
      IsPassword(*control)) {
    return Refused(EscapeText(action->control) + " takes a password: enter its name alone and type the "
                   "password where it does not show");
  }
  FormPromptEntry entry;
  entry.kind = FormPromptEntry::Kind::Apply;
  entry.action = std::move(*action);
  return entry;
}

bool RunFormOnTerminal(qmos::Form& form) {
  const std::unique_ptr<Terminal> terminal = Terminal::Open();
  if (!terminal) return false;
  FormTerminal(*terminal, form).Run();
  return true;
}

const char* FormPromptHelpText() {
  return "Enter one of these, then Enter:\n"
         "  type NAME TEXT     replace an edit box's text (escapes \\n \\t \\; \\\\)\n"
         "  check NAME 0|1     clear or set a check box\n"
         "  select NAME TEXT   choose a combo box's item\n"
         "  click NAME         press a button, or toggle a check box\n"
         "  NAME               an edit box: asks for its text (a password without showing it);\n"
         "                     a combo box: asks for the item (its number or text);\n"
         "                     a check box: toggles it; a button: presses it\n"
         "  show               draw the form again\n"
         "  cancel             press the cancel button, as Esc does\n"
         "  ?  or  help        this list\n"
         "End of input (Ctrl-D; Ctrl-Z and Enter on Windows) closes the form by its cancel\n"
         "button.\n";
}

}  // namespace qmhost
