// The combo box: items (sorted when asked), selection, text, the user's actions.
#include "qmos/combo_box.h"

#include <algorithm>
#include <cctype>

namespace qmos {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// Alphabetical order, letter case aside.
bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

}  // namespace

const char* ComboStyleName(ComboStyle style) {
  return style == ComboStyle::DropDownList ? "DropDownList" : "DropDown";
}

void ComboBox::SetSorted(bool sorted) {
  sorted_ = sorted;
  if (!sorted_) return;
  const std::string selected = itemIndex_ >= 0 ? items_[static_cast<std::size_t>(itemIndex_)] : "";
  std::stable_sort(items_.begin(), items_.end(), LessIgnoringCase);
  if (itemIndex_ < 0) return;
  // Equal items are interchangeable: the first of them is the selected one.
  itemIndex_ = static_cast<int>(std::find(items_.begin(), items_.end(), selected) - items_.begin());
}

int ComboBox::AddItem(const std::string& item) {
  auto place = sorted_ ? std::upper_bound(items_.begin(), items_.end(), item, LessIgnoringCase)
                       : items_.end();
  const int index = static_cast<int>(place - items_.begin());
  items_.insert(place, item);
  if (itemIndex_ >= index) ++itemIndex_;
  return index;
}

void ComboBox::ClearItems() {
  items_.clear();
  itemIndex_ = -1;
}

int ComboBox::IndexOf(const std::string& text) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (EqualIgnoringCase(items_[i], text)) return static_cast<int>(i);
  }
  return -1;
}

void ComboBox::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) {
    itemIndex_ = -1;
    text_.clear();
    return;
  }
  itemIndex_ = index;
  text_ = items_[static_cast<std::size_t>(index)];
}

void ComboBox::SetText(const std::string& text) {
  itemIndex_ = IndexOf(text);
  text_ = itemIndex_ >= 0 && style_ == ComboStyle::DropDownList
              ? items_[static_cast<std::size_t>(itemIndex_)]
              : text;
}

void ComboBox::UserSelect(int index) {
  SetItemIndex(index);
  if (onChange) onChange();
}

void ComboBox::UserType(const std::string& text) {
  SetText(text);
  if (onChange) onChange();
}

}  // namespace qmos
