// Checks on values that every backend makes the same way: whether two values are
// equal (a write of the same value changes nothing) and whether a value can be
// written at all.
#pragma once

#include "qmos/registry.h"

namespace qmos::reg {

// Same kind and same content; for Binary values the type number counts too.
bool SameValue(const RegValue& a, const RegValue& b);

// Strings that a .reg file can carry: no NUL and no line breaks. The same rule
// holds on every platform, so that whatever is written can be exported again.
bool StorableValue(const RegValue& value);

}  // namespace qmos::reg
