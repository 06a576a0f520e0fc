// How a form's windows carry the names of the controls they show (Windows), so that
// a program acting on the windows as a person would (a test driver, an
// accessibility tool) finds a control by the name the form gives it.
//
// Each control's window has the window property kControlNameProperty, whose value
// is a global atom named after the control; any process may read it. The form's
// own window is of the window class named after the form's class name, with the
// form's caption as its title.
#pragma once

#include <string>

namespace qmos {

inline constexpr const wchar_t* kControlNameProperty = L"QmosControlName";

// The control name a window carries (an HWND); "" when it carries none.
std::string ControlNameOfWindow(void* window);

}  // namespace qmos
