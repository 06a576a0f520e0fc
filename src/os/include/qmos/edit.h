// A one-line edit box: text, maximum length, password character, selection and
// caret, and the change handler.
//
// Setting the text, by the user or by code, runs onChange when the text changes;
// setting the text it already has runs nothing. So a handler that rewrites the
// text (keeps only digits, say) is told once more and then stops. As a guard
// against handlers that never settle, changes nested deeper than
// kMaxNestedChanges are made without telling the handler again.
//
// Positions and lengths (SelStart, SelLength, MaxLength, Length) count characters
// (UTF-8 code points), not bytes.
//
// Owned by its Form (see control.h for ownership and threads).
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "qmos/control.h"

namespace qmos {

class Edit : public Control {
 public:
  static constexpr int kMaxNestedChanges = 8;

  // The text with every character shown as '*' when passwordChar is set, so that
  // no password reaches an event or a log. Text() keeps the real text.
  std::string ObservedText() const override;
  // A password box's text is cleared from memory when the box goes with its form.
  ~Edit() override;

  const std::string& Text() const { return text_; }
  // Sets the text as code does: the maximum length does not apply, the caret goes
  // to the start with nothing selected, and onChange runs when the text changed.
  void SetText(const std::string& text);
  // Replaces the whole text as the user's typing would: cut to maxLength, the caret
  // after the last character, and onChange runs once.
  void TypeText(const std::string& text);

  int Length() const;  // in characters
  int SelStart() const { return selStart_; }
  int SelLength() const { return selLength_; }
  // Moves the caret to start (clamped to the text) and clears the selection.
  void SetSelStart(int start);
  // Selects length characters from SelStart (clamped to the text).
  void SetSelLength(int length);

  int maxLength = 0;        // 0: no limit
  char passwordChar = '\0';  // '\0': the text is shown as it is
  std::function<void()> onChange;

 private:
  friend class Form;
  Edit(Form& owner, std::string name) : Control(owner, std::move(name), ControlKind::Edit) {}
  void Change();
  // Takes next as the text; a password box clears the text it replaces first.
  void Replace(std::string next);

  std::string text_;
  int selStart_ = 0;
  int selLength_ = 0;
  int changeDepth_ = 0;
};

// Number of characters (UTF-8 code points) in text.
int CharacterCount(const std::string& text);
// The first count characters of text (all of it when it has no more).
std::string FirstCharacters(const std::string& text, int count);

}  // namespace qmos
