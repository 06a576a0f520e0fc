// Without a window system: a message box goes to standard error and is answered
// with its first button, a form is closed by its cancel button, and the main
// window's caption, restore and bring-to-front draw nothing.
#include "app/system_presenter.h"

#include <cstdio>

#include "qmos/form.h"
#include "qmos/message_box.h"

namespace qmos::detail {

int SystemMessageBox(const std::string& text, const std::string& title, unsigned flags) {
  const int answer = MessageBoxFirstButton(flags);
  std::fprintf(stderr, "[%s] %s -> %s\n", title.c_str(), text.c_str(), MessageBoxButtonName(answer));
  return answer;
}

void SystemCaptionChanged(const std::string&) {}

void SystemRestore() {}

void SystemBringToFront() {}

int SystemShowForm(Form& form) {
  const int result = form.CloseByCancel();
  std::fprintf(stderr, "[%s] form %s -> closed by its cancel button (%d)\n", form.caption.c_str(),
               form.ClassName().c_str(), result);
  return result;
}

}  // namespace qmos::detail
