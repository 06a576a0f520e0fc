#include "plugin/registration.h"

#include <cstdio>
#include <optional>

#include "plugin/VantiroPlugin_TLB.h"
#include "qmos/registry.h"
#include "qmos/type_lib.h"

namespace vantiro {

namespace {

using qmos::RegKey;
using qmos::RegRoot;

std::string ClassKeyPath() { return "CLSID\\" + qmos::GuidToString(CLSID_Vantiro); }

// Opens (creating) a key under HKEY_CLASSES_ROOT and sets its default value.
bool WriteDefault(const std::string& path, const std::string& value) {
  std::optional<RegKey> key = RegKey::Open(RegRoot::ClassesRoot, path, true);
  return key && key->WriteString("", value);
}

qmos::HRESULT RegisterComClass(const std::string& modulePath) {
  const std::string clsid = qmos::GuidToString(CLSID_Vantiro);
  const std::string classKey = ClassKeyPath();
  char version[32];
  std::snprintf(version, sizeof version, "%d.%d", kVantiroPluginMajorVersion,
                kVantiroPluginMinorVersion);

  // The module's path is written as it is: file names here have no short form, and
  // activation reads a path with blanks unchanged.
  bool ok = WriteDefault(classKey, kCoclassHelpString);
  if (ok) {
    std::optional<RegKey> inproc = RegKey::Open(RegRoot::ClassesRoot, classKey + "\\InprocServer32", true);
    ok = inproc && inproc->WriteString("", modulePath) &&
         inproc->WriteString("ThreadingModel", "Apartment");
  }
  ok = ok && WriteDefault(classKey + "\\ProgID", kVantiroProgId);
  ok = ok && WriteDefault(classKey + "\\Version", version);
  ok = ok && WriteDefault(classKey + "\\Typelib", qmos::GuidToString(LIBID_VantiroPlugin));
  ok = ok && WriteDefault(kVantiroProgId, kCoclassHelpString);
  ok = ok && WriteDefault(std::string(kVantiroProgId) + "\\CLSID", clsid);
  if (!ok) return qmos::SELFREG_E_CLASS;

  if (FAILED(qmos::RegisterTypeLib(VantiroTypeLibrary(), modulePath))) return qmos::SELFREG_E_TYPELIB;
  return qmos::S_OK;
}

}  // namespace

std::string HostPluginKeyPath() {
  std::string path = quillmere::kPluginsKey;
  path += '\\';
  path += qmos::GuidToString(CLSID_Vantiro);
  return path;
}

std::string FormatInstallDateTime(const qmos::LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

qmos::HRESULT WriteHostPluginKey() {
  std::optional<RegKey> key = RegKey::Open(RegRoot::LocalMachine, HostPluginKeyPath(), true);
  if (!key) return qmos::E_ACCESSDENIED;
  const std::string installed = FormatInstallDateTime(qmos::LocalNow());
  const bool ok = key->WriteString("short_description", "Vantiro Backend") &&
                  key->WriteString("long_description",
                                   "Supplies the necessary connectivity to the Unified Messaging mailbox") &&
                  key->WriteString("version", "") &&
                  key->WriteString("install_datetime", installed) &&
                  key->WriteDword("update_check_frequency", 180) &&
                  key->WriteDword("mandatory", 0) &&
                  key->WriteDword("has_gui", 0) &&
                  key->WriteString("customer", "");
  return ok ? qmos::S_OK : qmos::E_ACCESSDENIED;
}

qmos::HRESULT RegisterVantiroServer(const std::string& modulePath) {
  const qmos::HRESULT hostKey = WriteHostPluginKey();
  const qmos::HRESULT comClass = RegisterComClass(modulePath);
  if (FAILED(comClass)) return comClass;
  return FAILED(hostKey) ? hostKey : comClass;
}

qmos::HRESULT UnregisterVantiroServer() {
  // A registry that cannot be read would make every key look removed.
  std::string unreadable;
  if (!qmos::RegCheckFile(unreadable)) return qmos::SELFREG_E_CLASS;
  // Whether the keys existed does not matter; only keys left behind are a failure.
  qmos::RegDeleteKey(RegRoot::LocalMachine, HostPluginKeyPath());
  qmos::RegDeleteKey(RegRoot::ClassesRoot, ClassKeyPath());
  qmos::RegDeleteKey(RegRoot::ClassesRoot, kVantiroProgId);
  if (qmos::RegKeyExists(RegRoot::LocalMachine, HostPluginKeyPath()) ||
      qmos::RegKeyExists(RegRoot::ClassesRoot, ClassKeyPath()) ||
      qmos::RegKeyExists(RegRoot::ClassesRoot, kVantiroProgId))
    return qmos::SELFREG_E_CLASS;
  return qmos::S_OK;
}

}  // namespace vantiro
