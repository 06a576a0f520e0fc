// The class factory of the coclass Vantiro: one new plug-in object per
// CreateInstance, no aggregation, LockServer counted against unloading.
#pragma once

#include "qmos/com.h"

namespace vantiro {

// DllGetClassObject: the factory for CLSID_Vantiro asked for riid;
// CLASS_E_CLASSNOTAVAILABLE for any other class.
qmos::HRESULT GetVantiroClassObject(qmos::REFCLSID clsid, qmos::REFIID riid, void** ppv);

}  // namespace vantiro
