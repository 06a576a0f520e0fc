// Looks at a module of the process by its path without loading it.
#pragma once

namespace com_test {

// Whether the module is loaded now.
bool ModuleLoaded(const char* path);
// Calls the module's entry point `int name()`; -1 when it is not loaded or lacks one.
int CallModuleCount(const char* path, const char* name);

}  // namespace com_test
