#include "plugin/VantiroPlugin_TLB.h"

namespace vantiro {

qmos::TypeLibDesc VantiroTypeLibrary() {
  qmos::TypeLibDesc desc;
  desc.libid = LIBID_VantiroPlugin;
  desc.name = kLibraryName;
  desc.helpString = kLibraryHelpString;
  desc.majorVersion = kVantiroPluginMajorVersion;
  desc.minorVersion = kVantiroPluginMinorVersion;
  desc.lcid = kVantiroPluginLcid;
  desc.interfaces = {
      {IID_IVantiro, kIVantiroName, /*dual=*/false, /*oleAutomation=*/true},
      {quillmere::IID_IQMViewerPlugin, "IQMViewerPlugin", /*dual=*/true, /*oleAutomation=*/true},
      {quillmere::IID_IQMViewerMenu, "IQMViewerMenu", /*dual=*/true, /*oleAutomation=*/true},
  };
  return desc;
}

}  // namespace vantiro
