#include "qmos/message_box.h"

namespace qmos {

int MessageBoxButtons(unsigned flags, int buttons[3]) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      buttons[0] = IDOK;
      buttons[1] = IDCANCEL;
      return 2;
    case MB_ABORTRETRYIGNORE:
      buttons[0] = IDABORT;
      buttons[1] = IDRETRY;
      buttons[2] = IDIGNORE;
      return 3;
    case MB_YESNOCANCEL:
      buttons[0] = IDYES;
      buttons[1] = IDNO;
      buttons[2] = IDCANCEL;
      return 3;
    case MB_YESNO:
      buttons[0] = IDYES;
      buttons[1] = IDNO;
      return 2;
    case MB_RETRYCANCEL:
      buttons[0] = IDRETRY;
      buttons[1] = IDCANCEL;
      return 2;
    case MB_CANCELTRYCONTINUE:
      buttons[0] = IDCANCEL;
      buttons[1] = IDTRYAGAIN;
      buttons[2] = IDCONTINUE;
      return 3;
    default:
      buttons[0] = IDOK;
      return 1;
  }
}

int MessageBoxFirstButton(unsigned flags) {
  int buttons[3];
  MessageBoxButtons(flags, buttons);
  return buttons[0];
}

int MessageBoxDefaultButton(unsigned flags) {
  int buttons[3];
  const int count = MessageBoxButtons(flags, buttons);
  const int index = static_cast<int>((flags & MB_DEFMASK) >> 8);
  return index < count ? buttons[index] : buttons[0];
}

bool MessageBoxOffers(unsigned flags, int answer) {
  int buttons[3];
  const int count = MessageBoxButtons(flags, buttons);
  for (int i = 0; i < count; ++i) {
    if (buttons[i] == answer) return true;
  }
  return false;
}

const char* MessageBoxButtonName(int answer) {
  switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDCLOSE: return "Close";
    case IDHELP: return "Help";
    case IDTRYAGAIN: return "Try Again";
    case IDCONTINUE: return "Continue";
    default: return "";
  }
}

}  // namespace qmos
