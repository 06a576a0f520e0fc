#include "qmos/message_box.h"

namespace qmos {

namespace {

// The buttons of each box type, in order.
struct ButtonSet {
  unsigned type;
  int count;
  int ids[3];
};

constexpr ButtonSet kButtonSets[] = {
    {MB_OKCANCEL, 2, {IDOK, IDCANCEL, 0}},
    {MB_ABORTRETRYIGNORE, 3, {IDABORT, IDRETRY, IDIGNORE}},
    {MB_YESNOCANCEL, 3, {IDYES, IDNO, IDCANCEL}},
    {MB_YESNO, 2, {IDYES, IDNO, 0}},
    {MB_RETRYCANCEL, 2, {IDRETRY, IDCANCEL, 0}},
    {MB_CANCELTRYCONTINUE, 3, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}},
};

}  // namespace

int MessageBoxButtons(unsigned flags, int buttons[3]) {
  for (const ButtonSet& set : kButtonSets) {
    if ((flags & MB_TYPEMASK) != set.type) continue;
    for (int i = 0; i < set.count; ++i) buttons[i] = set.ids[i];
    return set.count;
  }
  buttons[0] = IDOK;  // MB_OK and unknown types
  return 1;
}

int MessageBoxFirstButton(unsigned flags) {
  int buttons[3] = {};
  MessageBoxButtons(flags, buttons);
  return buttons[0];
}

int MessageBoxDefaultButton(unsigned flags) {
  int buttons[3] = {};
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
