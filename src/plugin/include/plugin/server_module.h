// What decides whether the plug-in module may be unloaded: the count of live plug-in
// objects, the count of LockServer locks, and the threads still running; plus the
// module's own file path, found from the code that is running.
#pragma once

#include <string>

#include "qmos/hresult.h"

namespace vantiro {

// Each plug-in object counts itself from construction to destruction.
void ObjectCreated();
void ObjectDestroyed();
int ObjectCount();

// IClassFactory::LockServer. An unlock without a matching lock changes nothing.
void LockModule();
void UnlockModule();
int LockCount();

// S_OK when no object exists, no lock is held and no worker thread runs (a thread
// still running would execute code of the module after it was unmapped); S_FALSE
// otherwise.
qmos::HRESULT CanUnloadModule();

// The full path of the file this code was loaded from: the module when built into
// it, the program otherwise. Empty when the loader cannot tell.
std::string ModuleFilePath();

}  // namespace vantiro
