// Applying a form action (from a script or from the terminal) to a shown form,
// through the form's own action methods, so that the handlers run as they would
// for a person.
#pragma once

#include "qmhost/command.h"
#include "qmos/form.h"

namespace qmhost {

// Type -> TypeText, Check -> SetChecked, Select -> SelectItem, Click -> Click.
qmos::ActionResult ApplyFormAction(qmos::Form& form, const FormAction& action);

// "type", "check", "select" or "click": the action as a command names it.
const char* FormActionVerb(FormAction::Kind kind);

}  // namespace qmhost
