// Loading server modules by path, shared by activation and ComModule.
#pragma once

#include <string>

#include "qmos/hresult.h"

namespace qmos::com_detail {

// The file of a module path as the registry gives it. Where paths are not in
// Windows form ("C:\Plugins\x.so"), turns backslashes into slashes and drops a
// leading drive letter; on Windows the path is the system's own.
std::string ModuleFilePath(std::string path);

// Loads the module (dlopen with RTLD_NOW | RTLD_LOCAL; LoadLibrary on Windows). On failure returns null, sets hr to
// CO_E_DLLNOTFOUND (no such file) or CO_E_ERRORINDLL (the file does not load) and
// error to the reason.
void* OpenModule(const std::string& path, HRESULT& hr, std::string& error);
// The address of an exported entry point, or null.
void* ModuleSymbol(void* handle, const char* name);
// Unloads a module that OpenModule loaded.
void CloseModule(void* handle);

}  // namespace qmos::com_detail
