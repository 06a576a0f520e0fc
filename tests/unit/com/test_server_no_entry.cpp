// A module that loads but does not export DllGetClassObject.
#include "qmos/com.h"

extern "C" qmos::HRESULT DllCanUnloadNow() { return qmos::S_OK; }
