// Type-library registration under HKEY_CLASSES_ROOT\TypeLib and \Interface, written
// key by key from the library's description (modules here carry no binary library).
#include "qmos/type_lib.h"

#include "qmos/registry.h"

namespace qmos {
namespace {

constexpr RegRoot kRoot = RegRoot::ClassesRoot;

std::string LibKey(REFGUID libid) { return "TypeLib\\" + GuidToString(libid); }
std::string InterfaceKey(REFIID iid) { return "Interface\\" + GuidToString(iid); }

// The module's folder: everything before the last separator ("/" for a module at
// the root of the file system).
std::string FolderOf(const std::string& path) {
  auto pos = path.find_last_of("/\\");
  if (pos == std::string::npos) return "";
  if (pos == 0) return path.substr(0, 1);
  return path.substr(0, pos);
}

bool WriteDefault(const std::string& path, const std::string& value) {
  auto key = RegKey::Open(kRoot, path, true);
  return key && key->WriteString("", value);
}

}  // namespace

HRESULT RegisterTypeLib(const TypeLibDesc& desc, const std::string& modulePath) {
  const std::string libText = GuidToString(desc.libid);
  const std::string version = TypeLibVersionText(desc.majorVersion, desc.minorVersion);
  const std::string versionKey = LibKey(desc.libid) + "\\" + version;
  bool ok = WriteDefault(versionKey, desc.helpString.empty() ? desc.name : desc.helpString);
  ok = ok && WriteDefault(versionKey + "\\FLAGS", "0");
  ok = ok && WriteDefault(versionKey + "\\HELPDIR", FolderOf(modulePath));
  // Registered language-neutral, so that a lookup for any locale finds it.
  ok = ok && WriteDefault(versionKey + "\\0\\win32", modulePath);
  const std::string proxyStub = GuidToString(CLSID_PSOAInterface);
  for (const auto& itf : desc.interfaces) {
    if (!ok) break;
    // Only automation-compatible interfaces are marshalled from the library.
    if (!itf.dual && !itf.oleAutomation) continue;
    const std::string key = InterfaceKey(itf.iid);
    ok = WriteDefault(key, itf.name) && WriteDefault(key + "\\ProxyStubClsid32", proxyStub) &&
         WriteDefault(key + "\\ProxyStubClsid", proxyStub);
    if (ok) {
      auto tl = RegKey::Open(kRoot, key + "\\TypeLib", true);
      ok = tl && tl->WriteString("", libText) && tl->WriteString("Version", version);
    }
  }
  return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(const TypeLibDesc& desc) {
  const std::string libText = GuidToString(desc.libid);
  const std::string version = TypeLibVersionText(desc.majorVersion, desc.minorVersion);
  const std::string libKey = LibKey(desc.libid);
  if (!RegKeyExists(kRoot, libKey + "\\" + version)) return TYPE_E_LIBNOTREGISTERED;
  for (const auto& itf : desc.interfaces) {
    const std::string key = InterfaceKey(itf.iid);
    auto tl = RegKey::Open(kRoot, key + "\\TypeLib");
    std::string owner;
    // An interface that another library has claimed since is left to that library.
    if (tl && tl->ReadString("", owner) == RegResult::Ok) {
      auto g = GuidFromString(owner);
      if (g && *g == desc.libid) RegDeleteKey(kRoot, key);
    }
  }
  RegDeleteKey(kRoot, libKey + "\\" + version);
  auto lib = RegKey::Open(kRoot, libKey);
  if (lib && lib->SubKeyNames().empty()) RegDeleteKey(kRoot, libKey);
  if (RegKeyExists(kRoot, libKey + "\\" + version)) return TYPE_E_REGISTRYACCESS;
  return S_OK;
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, std::string& path) {
  auto key = RegKey::Open(kRoot, LibKey(libid) + "\\" + TypeLibVersionText(major, minor) +
                                     "\\0\\win32");
  std::string text;
  if (!key || key->ReadString("", text) != RegResult::Ok) return TYPE_E_LIBNOTREGISTERED;
  path = text;
  return S_OK;
}

HRESULT LoadModuleTypeInfo(const std::string&, REFIID, ITypeInfo** typeInfo) {
  if (typeInfo) *typeInfo = nullptr;
  return TYPE_E_CANTLOADLIBRARY;
}

HRESULT DispGetIDsOfNames(ITypeInfo*, LPOLESTR*, UINT, DISPID*) { return E_NOTIMPL; }

}  // namespace qmos
