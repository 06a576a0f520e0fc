// The digit filter shared by the credential dialogs: mailbox numbers and passwords
// are digit strings, and their edit boxes keep nothing else.
#pragma once

#include <string>

namespace qmos {
class Edit;
class Label;
}  // namespace qmos

namespace vantiro {

// The characters 0 to 9 of text, in their order; every other character is dropped.
std::string DigitsOnly(const std::string& text);

// Hides and disables the dialog's status line, then puts filtered into edit when
// its text differs (exact comparison), with nothing selected and the caret after the
// last character, as if the person had typed just the digits.
void EditValidator(qmos::Label& status, qmos::Edit& edit, const std::string& filtered);

// Reduces edit to its own digits, with nothing selected and the caret after the
// last character, when it holds anything else.
void KeepDigitsOnly(qmos::Edit& edit);

}  // namespace vantiro
