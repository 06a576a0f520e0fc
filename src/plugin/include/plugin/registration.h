// Registration of the plug-in: the COM class (creatable through its class
// identifier and ProgID, with its type library) and the host plug-in key that
// announces the plug-in in the client's list of plug-ins.
#pragma once

#include <string>

#include "qmos/clock.h"
#include "qmos/hresult.h"

namespace vantiro {

// HKEY_LOCAL_MACHINE path of the host plug-in key: "SOFTWARE\Quillmere\Viewer\Plugins\{CLSID}".
std::string HostPluginKeyPath();

// "install_datetime": year, month, day, hour, minute, second as 14 digits.
std::string FormatInstallDateTime(const qmos::LocalTime& time);

// Writes the host plug-in key's eight values in order. E_ACCESSDENIED when the key
// cannot be opened or a value cannot be written.
qmos::HRESULT WriteHostPluginKey();

// The host plug-in key, then the COM class and the type library for the module at
// modulePath. The result is that of the COM part; when that succeeds but the host
// key could not be written, the host key's failure is returned instead, so that a
// registration that did not complete is never reported as done.
qmos::HRESULT RegisterVantiroServer(const std::string& modulePath);

// Removes the host plug-in key, the class key and the ProgID key. The type library
// stays registered. SELFREG_E_CLASS when a key is still there afterwards.
qmos::HRESULT UnregisterVantiroServer();

}  // namespace vantiro
