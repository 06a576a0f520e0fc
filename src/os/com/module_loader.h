// Loading server modules by path, shared by activation and ComModule.
#pragma once

#include <string>

#include "qmos/hresult.h"

namespace qmos::com_detail {

// A registry text may name the module in Windows form ("C:\Plugins\x.so"): turns
// backslashes into slashes and drops a leading drive letter.
std::string ModuleFilePath(std::string path);

// dlopen(path, RTLD_NOW | RTLD_LOCAL). On failure returns null, sets hr to
// CO_E_DLLNOTFOUND (no such file) or CO_E_ERRORINDLL (the file does not load) and
// error to the reason.
void* OpenModule(const std::string& path, HRESULT& hr, std::string& error);

}  // namespace qmos::com_detail
