#include "qmhost/form_event.h"

namespace qmhost {

namespace {

EventMembers ControlMembers(const qmos::ControlState& control) {
  EventMembers members = EventMembers::object();
  members["text"] = control.text;
  members["visible"] = control.visible;
  members["enabled"] = control.enabled;
  if (control.checked) members["checked"] = *control.checked;
  if (control.items) members["items"] = *control.items;
  if (!control.hint.empty()) members["hint"] = control.hint;
  if (!control.style.empty()) members["style"] = control.style;
  return members;
}

}  // namespace

EventMembers FormEventMembers(const qmos::FormState& state, FormPhase phase) {
  EventMembers members = EventMembers::object();
  members["form"] = state.className;
  members["phase"] = phase == FormPhase::Shown ? "shown" : "closed";
  members["caption"] = state.caption;
  if (phase == FormPhase::Closed) members["result"] = state.modalResult;
  EventMembers controls = EventMembers::object();
  for (const qmos::ControlState& control : state.controls)
    controls[control.name] = ControlMembers(control);
  members["controls"] = std::move(controls);
  return members;
}

}  // namespace qmhost
