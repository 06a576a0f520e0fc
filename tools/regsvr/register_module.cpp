#include "register_module.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "qmos/activation.h"
#include "qmos/hresult.h"
#include "qmos/paths.h"

namespace regsvr {

std::string ModuleFile(const std::string& module) {
  // Through UTF-8 both ways, which is what a path is in this program on every system.
  const std::string given = qmos::FromWindowsPath(module);
  std::filesystem::path file(std::u8string(given.begin(), given.end()));
  if (file.is_relative()) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    if (!ec) file = absolute.lexically_normal();
  }
  const std::u8string path = file.u8string();
  return std::string(path.begin(), path.end());
}

int RegisterModule(const CommandLine& line, std::ostream& out, std::ostream& err) {
  const char* entryPoint = line.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  qmos::HRESULT hr = qmos::S_OK;
  std::string error;
  std::unique_ptr<qmos::ComModule> module = qmos::ComModule::Load(ModuleFile(line.module), hr, error);
  if (!module) {
    err << "The module \"" << line.module << "\" failed to load.\n"
        << (error.empty() ? std::string("The module could not be loaded.") : error) << "\n"
        << qmos::HResultText(hr) << "\n";
    return 1;
  }
  if (!module->HasEntryPoint(entryPoint)) {
    err << "The module \"" << line.module << "\" was loaded but the entry-point " << entryPoint
        << " was not found.\n"
        << "Make sure that \"" << line.module << "\" is a valid COM server module and then try again.\n";
    return 1;
  }
  hr = line.unregister ? module->UnregisterServer() : module->RegisterServer();
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    err << "The module \"" << line.module << "\" was loaded but the call to " << entryPoint
        << " failed with error code " << code << ".\n"
        << qmos::HResultText(hr) << "\n";
    return 1;
  }
  if (!line.silent) out << entryPoint << " in " << line.module << " succeeded.\n";
  return 0;
}

}  // namespace regsvr
