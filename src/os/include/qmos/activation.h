// Activation of in-process COM servers through the registry:
//   HKEY_CLASSES_ROOT\<ProgID>\CLSID                    (default) = "{CLSID}"
//   HKEY_CLASSES_ROOT\CLSID\{CLSID}\InprocServer32      (default) = module path
// A module is loaded once per path and stays loaded until CoFreeUnusedLibraries
// finds that its DllCanUnloadNow answers S_OK. When a module cannot be loaded, the
// loader's message is left as the calling thread's error information
// (error_info.h), so that a host can show it. On Windows the system's COM runtime
// (ole32) does the activation, and a thread must enter an apartment first.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "qmos/com.h"

namespace qmos {

// Reads the ProgID's class identifier. CO_E_CLASSSTRING when the ProgID is not
// registered or its CLSID value is not a well-formed GUID; E_INVALIDARG for nulls.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid);

// The module path registered for the class (InprocServer32's default value), with a
// path in Windows form turned into a file path. REGDB_E_CLASSNOTREG when missing.
HRESULT GetInprocServerPath(REFCLSID clsid, std::string& path);

// Loads the class's module and asks its DllGetClassObject for riid.
//   REGDB_E_CLASSNOTREG  class or InprocServer32 not registered, or clsctx without
//                        CLSCTX_INPROC_SERVER;
//   CO_E_DLLNOTFOUND     the module file does not exist;
//   CO_E_ERRORINDLL      the file exists but does not load, or lacks DllGetClassObject;
//   else the result of DllGetClassObject.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void* serverInfo, REFIID riid,
                         void** ppv);
// CoGetClassObject for IClassFactory, then CreateInstance(outer, riid, ppv). *ppv is
// null on failure. The module is not freed while the creation runs.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid,
                         void** ppv);
// Asks every loaded module's DllCanUnloadNow and unloads those that answer S_OK.
// DllCanUnloadNow is called under the module table's lock: it must not activate
// classes itself.
void CoFreeUnusedLibraries();
// How many modules activation holds loaded (for diagnostics and tests). On Windows:
// how many of the modules that activation has used are still loaded.
std::size_t CoLoadedModuleCount();

// Makes the calling thread a single-threaded apartment, as a user-interface thread
// that activates classes must be on Windows (S_FALSE when it already was one);
// elsewhere nothing needs doing. Each successful call is paired with CoUninitialize
// on the same thread.
HRESULT CoInitializeApartment();
void CoUninitialize();

// One server module loaded by path for registration tools (regsvr): load errors are
// reported with the loader's text, and the entry points are called directly. The
// module is unloaded when the object goes.
class ComModule {
 public:
  // CO_E_DLLNOTFOUND when the file does not exist, CO_E_ERRORINDLL when it does not
  // load; Error() then holds the reason.
  static std::unique_ptr<ComModule> Load(const std::string& path, HRESULT& hr,
                                         std::string& error);
  ~ComModule();
  ComModule(const ComModule&) = delete;
  ComModule& operator=(const ComModule&) = delete;

  const std::string& Path() const { return path_; }
  bool HasEntryPoint(const char* name) const;
  // Each calls the entry point of that name, or returns CO_E_ERRORINDLL when the
  // module does not export it.
  HRESULT RegisterServer();
  HRESULT UnregisterServer();
  HRESULT CanUnloadNow();
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

 private:
  ComModule(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}
  void* Symbol(const char* name) const;
  std::string path_;
  void* handle_;
};

}  // namespace qmos
