// A control on a modal form: the state every kind shares (name, visibility,
// enabled state, hint, tab order, place and size, font).
//
// Ownership: a Form makes its controls (Form::Add) and owns them; a control lives
// exactly as long as its form and never moves, so references to it stay valid.
// Threads: a form and its controls are used on one thread at a time, in practice
// the main thread (Form::ShowModal runs there).
//
// Properties without side effects are plain public fields. Those whose change
// tells the dialog (an edit's text, a check box's state, a combo box's selection)
// are set through methods that run the change handler, as the window system would.
#pragma once

#include <cstdint>
#include <string>

namespace qmos {

class Form;

// A colour as 0xRRGGBB.
using Color = std::uint32_t;
inline constexpr Color kColorBlack = 0x000000;
inline constexpr Color kColorRed = 0xFF0000;
inline constexpr Color kColorBlue = 0x0000FF;

struct Font {
  std::string name = "MS Sans Serif";
  int size = 8;  // points
  Color color = kColorBlack;
  bool bold = false;
  bool underline = false;
};

enum class ControlKind { Label, Edit, CheckBox, ComboBox, Button };

// "Label", "Edit", "CheckBox", "ComboBox", "Button".
const char* ControlKindName(ControlKind kind);

class Control {
 public:
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  ControlKind Kind() const { return kind_; }
  Form& Owner() const { return owner_; }

  // The text an observer (an event, a log line, a terminal) may see: the caption or
  // the text, with a password edit's characters masked.
  virtual std::string ObservedText() const = 0;

  // Places the control: its left and top edges within the form's client area, its
  // width and height, in pixels.
  void SetBounds(int newLeft, int newTop, int newWidth, int newHeight) {
    left = newLeft;
    top = newTop;
    width = newWidth;
    height = newHeight;
  }

  // Puts the control above the others it overlaps (raises its ZOrder).
  void BringToFront();
  // Higher is nearer the front; controls start in the order they were added.
  int ZOrder() const { return zOrder_; }

  bool visible = true;
  bool enabled = true;
  std::string hint;
  bool showHint = false;
  // Tab walks the controls group by group (a group is the panel they lie on, 0
  // first), and within a group by tabOrder; controls that take no focus (labels,
  // speed buttons) are passed over.
  int tabGroup = 0;
  int tabOrder = 0;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  Font font;

 protected:
  Control(Form& owner, std::string name, ControlKind kind);

 private:
  friend class Form;
  Form& owner_;
  std::string name_;
  ControlKind kind_;
  int zOrder_ = 0;
};

}  // namespace qmos
