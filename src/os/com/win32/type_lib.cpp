// Type libraries through the system (oleaut32): the library inside a module is
// loaded from its resource and registered, and gives the type information that
// IDispatch hands out.
#include "core/wide_text.h"
#include "qmos/bstr.h"
#include "qmos/registry.h"
#include "qmos/type_lib.h"

#undef SUCCEEDED
#undef FAILED
#include <windows.h>
#include <oleauto.h>

#include <cstdlib>

namespace qmos {
namespace {

const ::GUID& Theirs(REFGUID guid) { return reinterpret_cast<const ::GUID&>(guid); }

// The module's folder (empty for a bare name).
std::string FolderOfModule(const std::string& path) {
  const auto pos = path.find_last_of("\\/");
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

// The library of the module's first type-library resource, not registered.
HRESULT LoadModuleLibrary(const std::string& modulePath, ::ITypeLib** library) {
  const std::wstring path = detail::WideFromUtf8(modulePath);
  return ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

bool Describes(::ITypeLib* library, const TypeLibDesc& desc) {
  ::TLIBATTR* attributes = nullptr;
  if (FAILED(library->GetLibAttr(&attributes)) || !attributes) return false;
  const bool same = ::IsEqualGUID(attributes->guid, Theirs(desc.libid)) &&
                    attributes->wMajorVerNum == desc.majorVersion &&
                    attributes->wMinorVerNum == desc.minorVersion;
  library->ReleaseTLibAttr(attributes);
  return same;
}

constexpr ::SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

}  // namespace

HRESULT RegisterTypeLib(const TypeLibDesc& desc, const std::string& modulePath) {
  ::ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleLibrary(modulePath, &library);
  if (FAILED(hr)) return hr;
  if (Describes(library, desc)) {
    std::wstring path = detail::WideFromUtf8(modulePath);
    std::wstring folder = detail::WideFromUtf8(FolderOfModule(modulePath));
    hr = ::RegisterTypeLib(library, path.data(), folder.empty() ? nullptr : folder.data());
  } else {
    hr = TYPE_E_LIBNOTREGISTERED;  // the module holds another library than the one named
  }
  library->Release();
  return hr;
}

HRESULT UnRegisterTypeLib(const TypeLibDesc& desc) {
  return ::UnRegisterTypeLib(Theirs(desc.libid), desc.majorVersion, desc.minorVersion, desc.lcid,
                             kSysKind);
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, std::string& path) {
  // The system's query wants the locale the library was registered for: each locale
  // key of the version (hex numbers, "0" for neutral) is asked in turn.
  const auto version = RegKey::Open(RegRoot::ClassesRoot, "TypeLib\\" + GuidToString(libid) + "\\" +
                                                              TypeLibVersionText(major, minor));
  if (!version) return TYPE_E_LIBNOTREGISTERED;
  HRESULT hr = TYPE_E_LIBNOTREGISTERED;
  for (const std::string& name : version->SubKeyNames()) {
    char* end = nullptr;
    const unsigned long lcid = std::strtoul(name.c_str(), &end, 16);
    if (name.empty() || *end != '\0') continue;  // FLAGS, HELPDIR
    ::BSTR text = nullptr;
    hr = ::QueryPathOfRegTypeLib(Theirs(libid), major, minor, lcid, &text);
    if (FAILED(hr)) continue;
    path = BstrToUtf8(reinterpret_cast<BSTR>(text));
    ::SysFreeString(text);
    return S_OK;
  }
  return hr;
}

HRESULT LoadModuleTypeInfo(const std::string& modulePath, REFIID iid, ITypeInfo** typeInfo) {
  if (!typeInfo) return E_POINTER;
  *typeInfo = nullptr;
  ::ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleLibrary(modulePath, &library);
  if (FAILED(hr)) return hr;
  ::ITypeInfo* info = nullptr;
  hr = library->GetTypeInfoOfGuid(Theirs(iid), &info);
  library->Release();
  if (SUCCEEDED(hr)) *typeInfo = reinterpret_cast<ITypeInfo*>(info);
  return hr;
}

HRESULT DispGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids) {
  if (!typeInfo) return E_POINTER;
  return ::DispGetIDsOfNames(reinterpret_cast<::ITypeInfo*>(typeInfo),
                             reinterpret_cast<::LPOLESTR*>(names), count,
                             reinterpret_cast<::DISPID*>(ids));
}

}  // namespace qmos
