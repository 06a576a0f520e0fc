#include "plugin/install_path.h"

#include "qmos/registry.h"

namespace vantiro {

std::string InstallPath(std::string_view fileName) {
  // The key is created when missing; a registry that cannot be written (a user
  // without write access) is still read.
  std::optional<qmos::RegKey> key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true);
  if (!key) key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, false);

  std::string folder;
  if (key) {
    switch (key->ReadString("InstallDir", folder)) {
      case qmos::RegResult::Ok:
        break;
      case qmos::RegResult::WrongType:
        return std::string(fileName);
      case qmos::RegResult::NotFound:
      case qmos::RegResult::Error:
        folder.clear();
        break;
    }
  }
  std::string path;
  path.reserve(folder.size() + 1 + fileName.size());
  path.append(folder).append("\\").append(fileName);
  return path;
}

}  // namespace vantiro
