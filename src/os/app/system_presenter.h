// What a host without a presenter gets (the Presenter's defaults), as each system
// provides it: see qmos/presenter.h. Called on the main thread.
#pragma once

#include <string>

namespace qmos {
class Form;
}

namespace qmos::detail {

int SystemMessageBox(const std::string& text, const std::string& title, unsigned flags);
void SystemCaptionChanged(const std::string& text);
void SystemRestore();
void SystemBringToFront();
int SystemShowForm(Form& form);

}  // namespace qmos::detail
