#include "qmhost/host_presenter.h"

#include <cctype>

#include "qmhost/event_format.h"
#include "qmhost/event_writer.h"
#include "qmhost/form_actions.h"
#include "qmhost/form_event.h"
#include "qmhost/form_terminal.h"
#include "qmhost/terminal.h"
#include "qmos/form.h"
#include "qmos/message_box.h"

namespace qmhost {

namespace {

// An answer longer than this names no button.
constexpr std::size_t kMaxAnswer = 255;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The answer the user typed, as one of the box's buttons; 0 when it names none.
int ChooseButton(const std::string& answer, const int* buttons, int count, int fallback) {
  std::string typed = Lower(answer);
  while (!typed.empty() && std::isspace(static_cast<unsigned char>(typed.back()))) typed.pop_back();
  while (!typed.empty() && std::isspace(static_cast<unsigned char>(typed.front()))) typed.erase(0, 1);
  if (typed.empty()) return fallback;
  for (int i = 0; i < count; ++i) {
    const std::string name = Lower(qmos::MessageBoxButtonName(buttons[i]));
    if (typed == std::to_string(i + 1) || typed == name || (typed.size() == 1 && typed[0] == name[0]))
      return buttons[i];
  }
  return 0;
}

}  // namespace

std::string DrawMessageBox(const std::string& text, const std::string& title, unsigned flags) {
  int buttons[3] = {};
  const int count = qmos::MessageBoxButtons(flags, buttons);
  const int fallback = qmos::MessageBoxDefaultButton(flags);
  // The title and the text come from the plug-in: every control character in them is
  // shown escaped, as in the event lines, so that they cannot steer the terminal. A
  // line feed in the text still starts a new line of the box.
  std::string out = "\n+--- " + EscapeText(title) + " ---\n";
  const std::string_view body = text;
  std::size_t start = 0;
  while (start <= body.size()) {
    const auto end = body.find('\n', start);
    out += "| " + EscapeText(body.substr(start, end == std::string_view::npos ? end : end - start)) + "\n";
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  out += "+";
  for (int i = 0; i < count; ++i) {
    out += " [" + std::to_string(i + 1) + "] " + qmos::MessageBoxButtonName(buttons[i]);
    if (buttons[i] == fallback) out += " (default)";
  }
  return out + "\n";
}

int AskMessageBoxOnTerminal(const std::string& text, const std::string& title, unsigned flags) {
  const std::unique_ptr<Terminal> terminal = Terminal::Open();
  if (!terminal) return 0;
  int buttons[3] = {};
  const int count = qmos::MessageBoxButtons(flags, buttons);
  const int fallback = qmos::MessageBoxDefaultButton(flags);
  terminal->Write(DrawMessageBox(text, title, flags));
  int result = 0;
  while (result == 0) {
    terminal->Write("Answer: ");
    std::string line;
    const Terminal::Read read = terminal->ReadLine(line, kMaxAnswer);
    if (read == Terminal::Read::End) {
      result = fallback;  // end of input at the terminal: as if Enter was pressed
      break;
    }
    if (read == Terminal::Read::Line) result = ChooseButton(line, buttons, count, fallback);
    if (result == 0)
      terminal->Write("Please answer with a number from 1 to " + std::to_string(count) + ".\n");
  }
  return result;
}

HostPresenter::HostPresenter(EventWriter& events, bool interactive, bool windows)
    : events_(events), interactive_(interactive), windows_(windows ? std::make_unique<WindowDriver>(events) : nullptr) {}

HostPresenter::~HostPresenter() = default;

int HostPresenter::ShowMessageBox(const std::string& text, const std::string& title,
                                  unsigned flags) {
  int result = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!boxResults_.empty()) {
      result = boxResults_.front();
      boxResults_.pop_front();
    }
  }
  if (windows_) {
    // The system's box, pressed as queued; unqueued ones get OK, or are left to the
    // person at the screen.
    const int answer = result != 0 ? result : (interactive_ ? 0 : qmos::IDOK);
    result = windows_->DriveMessageBox(title, answer, [&] { return Presenter::ShowMessageBox(text, title, flags); });
  } else if (result == 0 && interactive_) {
    result = AskMessageBoxOnTerminal(text, title, flags);
    if (result == 0) events_.Write("error", {{"message", "message box: no terminal to ask at; answered OK"}});
  }
  if (result == 0) result = qmos::IDOK;
  events_.Write("message_box",
                {{"title", title}, {"text", text}, {"flags", flags}, {"result", result}});
  return result;
}

void HostPresenter::CaptionChanged(const std::string& text) {
  if (windows_) {
    Presenter::CaptionChanged(text);  // the main window's title
    events_.Write("caption", {{"text", windows_->MainWindowTitle()}});
    return;
  }
  events_.Write("caption", {{"text", text}});
}

bool HostPresenter::OpenUrl(const std::string& url) {
  // The host reports the request and opens nothing: a test run must not start a browser.
  events_.Write("open_url", {{"url", url}});
  return true;
}

int HostPresenter::ShowForm(qmos::Form& form) {
  if (windows_) {
    // Queued actions are applied to the window; a showing with none is the person's
    // in interactive mode, else closed by its cancel button.
    const std::optional<std::vector<FormAction>> actions = TakeFormActions(form.ClassName());
    return windows_->DriveForm(form, actions.value_or(std::vector<FormAction>{}), interactive_ && !actions,
                               [&] { return Presenter::ShowForm(form); });
  }
  events_.Write("form", FormEventMembers(form.Observe(), FormPhase::Shown));
  if (auto actions = TakeFormActions(form.ClassName())) {
    ApplyScriptedActions(form, *actions);
  } else if (interactive_ && !RunFormOnTerminal(form)) {
    events_.Write("error", {{"message", "form " + form.ClassName() +
                                            ": no terminal to ask at; closed by its cancel button"}});
  }
  // Nothing answered it, or the answers left it open: closed by its cancel button,
  // which is pressed (its handler runs) as Esc would.
  form.CloseByCancel();
  events_.Write("form", FormEventMembers(form.Observe(), FormPhase::Closed));
  return form.ModalResult();
}

void HostPresenter::ApplyScriptedActions(qmos::Form& form, const std::vector<FormAction>& actions) {
  for (const FormAction& action : actions) {
    const qmos::ActionResult done = ApplyFormAction(form, action);
    if (!done.Ok()) {
      // Names the action and the control, never the text: it may be a password.
      events_.Write("error", {{"message", "form " + form.ClassName() + ": cannot " +
                                              FormActionVerb(action.kind) + ": " + done.Message() +
                                              "; closed by its cancel button"}});
      form.CloseByCancel();
      return;
    }
    if (form.ModalResult() != qmos::mrNone) return;  // a button closed it
  }
}

std::optional<std::vector<FormAction>> HostPresenter::TakeFormActions(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = formActions_.find(name);
  if (found == formActions_.end() || found->second.empty()) return std::nullopt;
  std::vector<FormAction> actions = std::move(found->second.front());
  found->second.pop_front();
  if (found->second.empty()) formActions_.erase(found);
  return actions;
}

void HostPresenter::QueueBoxResult(int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  boxResults_.push_back(result);
}

void HostPresenter::QueueFormActions(const std::string& name, std::vector<FormAction> actions) {
  std::lock_guard<std::mutex> lock(mutex_);
  formActions_[name].push_back(std::move(actions));
}

std::size_t HostPresenter::QueuedFormShowings(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = formActions_.find(name);
  return found == formActions_.end() ? 0 : found->second.size();
}

}  // namespace qmhost
