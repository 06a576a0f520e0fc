// The members of the `form` event, written when a form is shown and when it
// closes. They are built from what an observer may see of the form (a password
// edit's text is already masked there), so an event never carries a password.
#pragma once

#include "qmhost/event_format.h"
#include "qmos/form_state.h"

namespace qmhost {

enum class FormPhase { Shown, Closed };

// form (class name), phase, caption, result (closed only: the state's modal
// result), and controls: an object keyed by control name, each with text,
// visible, enabled, and where they apply checked (check boxes), items and style
// (combo boxes) and hint (when the control has one).
EventMembers FormEventMembers(const qmos::FormState& state, FormPhase phase);

}  // namespace qmhost
