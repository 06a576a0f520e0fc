// What activation reads of the class registration, the same on every platform.
#include "com/module_loader.h"
#include "qmos/activation.h"
#include "qmos/bstr.h"
#include "qmos/registry.h"

namespace qmos {

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  return CLSIDFromProgID(Utf16ToUtf8(progId), clsid);
}

HRESULT GetInprocServerPath(REFCLSID clsid, std::string& path) {
  auto key = RegKey::Open(RegRoot::ClassesRoot, "CLSID\\" + GuidToString(clsid) + "\\InprocServer32");
  if (!key) return REGDB_E_CLASSNOTREG;
  std::string text;
  if (key->ReadString("", text) != RegResult::Ok || text.empty()) return REGDB_E_CLASSNOTREG;
  path = com_detail::ModuleFilePath(std::move(text));
  return S_OK;
}

}  // namespace qmos
