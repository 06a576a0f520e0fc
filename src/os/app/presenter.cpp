#include "qmos/presenter.h"

#include <cstdio>

#include "app/system_presenter.h"
#include "app/url_opener.h"

namespace qmos {

int Presenter::ShowMessageBox(const std::string& text, const std::string& title, unsigned flags) {
  return detail::SystemMessageBox(text, title, flags);
}

void Presenter::CaptionChanged(const std::string& text) { detail::SystemCaptionChanged(text); }

bool Presenter::OpenUrl(const std::string& url) {
  std::string error;
  if (RunUrlOpener(url, &error)) return true;
  std::fprintf(stderr, "qmos: cannot open %s: %s\n", url.c_str(), error.c_str());
  return false;
}

void Presenter::Restore() { detail::SystemRestore(); }

void Presenter::BringToFront() { detail::SystemBringToFront(); }

int Presenter::ShowForm(Form& form) { return detail::SystemShowForm(form); }

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
