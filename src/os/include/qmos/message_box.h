// Message box flags and answers, with the values the Windows API gives them, so
// that code written for that API keeps its meaning. Application::MessageBox shows
// one; the installed presenter draws it.
#pragma once

namespace qmos {

// Buttons (MB_TYPEMASK)
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_CANCELTRYCONTINUE = 0x6;

// Icons (MB_ICONMASK)
inline constexpr unsigned MB_ICONHAND = 0x10;
inline constexpr unsigned MB_ICONERROR = MB_ICONHAND;
inline constexpr unsigned MB_ICONSTOP = MB_ICONHAND;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr unsigned MB_ICONASTERISK = 0x40;
inline constexpr unsigned MB_ICONINFORMATION = MB_ICONASTERISK;

// Default button (MB_DEFMASK)
inline constexpr unsigned MB_DEFBUTTON1 = 0x000;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr unsigned MB_DEFBUTTON3 = 0x200;
inline constexpr unsigned MB_DEFBUTTON4 = 0x300;

// Modality (MB_MODEMASK) and the rest
inline constexpr unsigned MB_APPLMODAL = 0x0000;
inline constexpr unsigned MB_SYSTEMMODAL = 0x1000;
inline constexpr unsigned MB_TASKMODAL = 0x2000;
inline constexpr unsigned MB_HELP = 0x4000;
inline constexpr unsigned MB_NOFOCUS = 0x8000;
inline constexpr unsigned MB_SETFOREGROUND = 0x10000;
inline constexpr unsigned MB_DEFAULT_DESKTOP_ONLY = 0x20000;
inline constexpr unsigned MB_TOPMOST = 0x40000;
inline constexpr unsigned MB_RIGHT = 0x80000;
inline constexpr unsigned MB_RTLREADING = 0x100000;
inline constexpr unsigned MB_SERVICE_NOTIFICATION = 0x200000;

inline constexpr unsigned MB_TYPEMASK = 0xF;
inline constexpr unsigned MB_ICONMASK = 0xF0;
inline constexpr unsigned MB_DEFMASK = 0xF00;
inline constexpr unsigned MB_MODEMASK = 0x3000;
inline constexpr unsigned MB_MISCMASK = 0xC000;

// Answers. 0 means the box could not be shown.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDCLOSE = 8;
inline constexpr int IDHELP = 9;
inline constexpr int IDTRYAGAIN = 10;
inline constexpr int IDCONTINUE = 11;

// The answers a box with these flags offers, left to right (MB_OK: IDOK;
// MB_YESNOCANCEL: IDYES, IDNO, IDCANCEL ...). An unknown button type counts as MB_OK.
// Returns how many were written to buttons (at most 3).
int MessageBoxButtons(unsigned flags, int buttons[3]);
// The first button of the box (IDOK for MB_OK and MB_OKCANCEL, IDYES for MB_YESNO ...).
int MessageBoxFirstButton(unsigned flags);
// The button that MB_DEFBUTTONn selects (the first one when n is out of range).
int MessageBoxDefaultButton(unsigned flags);
// True when answer is one of the box's buttons.
bool MessageBoxOffers(unsigned flags, int answer);
// "OK", "Cancel", "Yes" ... for an answer; "" for an unknown one.
const char* MessageBoxButtonName(int answer);

}  // namespace qmos
