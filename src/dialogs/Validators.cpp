#include "dialogs/Validators.h"

#include "qmos/edit.h"
#include "qmos/label.h"

namespace vantiro {

std::string DigitsOnly(const std::string& text) {
  std::string digits;
  for (const char c : text) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits;
}

namespace {

void PutFiltered(qmos::Edit& edit, const std::string& filtered) {
  if (edit.Text() == filtered) return;
  edit.SetText(filtered);
  edit.SetSelLength(0);
  edit.SetSelStart(edit.Length());
}

}  // namespace

void EditValidator(qmos::Label& status, qmos::Edit& edit, const std::string& filtered) {
  status.visible = false;
  status.enabled = false;
  PutFiltered(edit, filtered);
}

void KeepDigitsOnly(qmos::Edit& edit) { PutFiltered(edit, DigitsOnly(edit.Text())); }

}  // namespace vantiro
