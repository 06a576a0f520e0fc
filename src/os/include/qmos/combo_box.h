// A combo box: a list of items and the text shown in its box. In the DropDown
// style the user may type any text; in the DropDownList style the user can only
// choose an item. A sorted combo box keeps its items in alphabetical order
// (letter case aside), also those added later.
//
// onChange runs on the user's actions only (choosing an item, typing into a
// DropDown box), as the window system does; setting Text or ItemIndex from code
// runs nothing.
//
// Owned by its Form (see control.h for ownership and threads).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "qmos/control.h"

namespace qmos {

enum class ComboStyle { DropDown, DropDownList };

// "DropDown" or "DropDownList".
const char* ComboStyleName(ComboStyle style);

class ComboBox : public Control {
 public:
  std::string ObservedText() const override { return text_; }

  ComboStyle Style() const { return style_; }
  void SetStyle(ComboStyle style) { style_ = style; }
  bool Sorted() const { return sorted_; }
  // Sorting an unsorted list keeps the selected item selected.
  void SetSorted(bool sorted);

  const std::vector<std::string>& Items() const { return items_; }
  // Adds an item (in its place when sorted) and returns its index. The selection
  // stays on the item it was on.
  int AddItem(const std::string& item);
  // Removes every item; nothing is selected, the text stays.
  void ClearItems();
  // Index of the first item equal to text, letter case aside; -1 when none.
  int IndexOf(const std::string& text) const;

  // -1 when nothing is selected.
  int ItemIndex() const { return itemIndex_; }
  // Selects the item (its text becomes the box's text); -1 (or an index out of
  // range) selects nothing and empties the text.
  void SetItemIndex(int index);

  const std::string& Text() const { return text_; }
  // Sets the box's text. The item with that text (letter case aside) becomes
  // selected, and in the DropDownList style its text is the one shown; with no such
  // item nothing is selected and the text is shown as given.
  void SetText(const std::string& text);

  // The user's actions (Form checks the control may be used first): choose an item,
  // type into the box of a DropDown combo. Both run onChange once.
  void UserSelect(int index);
  void UserType(const std::string& text);

  int dropDownCount = 8;  // lines shown when dropped down
  std::function<void()> onChange;

 private:
  friend class Form;
  ComboBox(Form& owner, std::string name)
      : Control(owner, std::move(name), ControlKind::ComboBox) {}

  ComboStyle style_ = ComboStyle::DropDown;
  bool sorted_ = false;
  std::vector<std::string> items_;
  int itemIndex_ = -1;
  std::string text_;
};

}  // namespace qmos
