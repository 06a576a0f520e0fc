// The edit box: text changes that tell the handler, typing, selection and caret.
#include "qmos/edit.h"

#include <algorithm>
#include <utility>

#include "qmos/secure_clear.h"

namespace qmos {

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

int CharacterCount(const std::string& text) {
  return static_cast<int>(std::count_if(text.begin(), text.end(),
                                        [](char c) { return !IsContinuationByte(c); }));
}

std::string FirstCharacters(const std::string& text, int count) {
  int seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) continue;
    if (seen == count) return text.substr(0, i);
    ++seen;
  }
  return text;
}

Edit::~Edit() {
  if (passwordChar != '\0') SecureClear(text_);
}

void Edit::Replace(std::string next) {
  if (passwordChar != '\0') SecureClear(text_);
  text_ = std::move(next);
  if (passwordChar != '\0') SecureClear(next);  // the short-string copy left behind
}

std::string Edit::ObservedText() const {
  if (passwordChar == '\0') return text_;
  return std::string(static_cast<std::size_t>(Length()), '*');
}

int Edit::Length() const { return CharacterCount(text_); }

void Edit::SetText(const std::string& text) {
  if (text == text_) return;
  Replace(text);
  selStart_ = 0;
  selLength_ = 0;
  Change();
}

void Edit::TypeText(const std::string& text) {
  Replace(maxLength > 0 ? FirstCharacters(text, maxLength) : text);
  selStart_ = Length();
  selLength_ = 0;
  Change();
}

void Edit::SetSelStart(int start) {
  selStart_ = std::clamp(start, 0, Length());
  selLength_ = 0;
}

void Edit::SetSelLength(int length) { selLength_ = std::clamp(length, 0, Length() - selStart_); }

void Edit::Change() {
  if (!onChange || changeDepth_ >= kMaxNestedChanges) return;
  ++changeDepth_;
  try {
    onChange();
  } catch (...) {
    --changeDepth_;
    throw;
  }
  --changeDepth_;
}

}  // namespace qmos
