#include "qmos/presenter.h"

#include <cstdio>

#include "app/url_opener.h"
#include "qmos/form.h"
#include "qmos/message_box.h"

namespace qmos {

int Presenter::ShowMessageBox(const std::string& text, const std::string& title, unsigned flags) {
  const int answer = MessageBoxFirstButton(flags);
  std::fprintf(stderr, "[%s] %s -> %s\n", title.c_str(), text.c_str(), MessageBoxButtonName(answer));
  return answer;
}

void Presenter::CaptionChanged(const std::string&) {}

bool Presenter::OpenUrl(const std::string& url) {
  std::string error;
  if (RunUrlOpener(url, &error)) return true;
  std::fprintf(stderr, "qmos: cannot open %s: %s\n", url.c_str(), error.c_str());
  return false;
}

void Presenter::Restore() {}

void Presenter::BringToFront() {}

int Presenter::ShowForm(Form& form) {
  const int result = form.CloseByCancel();
  std::fprintf(stderr, "[%s] form %s -> closed by its cancel button (%d)\n", form.caption.c_str(),
               form.ClassName().c_str(), result);
  return result;
}

namespace {

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

bool RunUrlOpener(const std::string& url, std::string* error) {
  if (url.empty()) {
    SetError(error, "empty URL");
    return false;
  }
  if (url.front() == '-') {
    SetError(error, "a URL may not start with '-'");
    return false;
  }
  if (url.find('\0') != std::string::npos) {
    SetError(error, "the URL contains a NUL character");
    return false;
  }
  return detail::OpenUrlWithSystem(url, error);
}

}  // namespace qmos
