// Windows: the module (DLL or program) that holds an address, as its HMODULE;
// nullptr when none does. Window classes are registered against it.
#pragma once

namespace qmos::detail {

void* ModuleHandleOf(const void* address);

}  // namespace qmos::detail
