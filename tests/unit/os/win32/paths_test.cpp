// Paths on Windows: the registry's paths are the system's own and pass unchanged;
// joining puts exactly one backslash between folder and name.
#include <gtest/gtest.h>

#include "qmos/paths.h"

namespace {

TEST(WindowsPathsTest, RegistryPathsPassUnchangedAndJoinWithOneBackslash) {
  EXPECT_EQ(qmos::FromWindowsPath("C:\\Logs\\x.out"), "C:\\Logs\\x.out");
  EXPECT_EQ(qmos::FromWindowsPath("\\\\server\\share\\f"), "\\\\server\\share\\f");
  struct Join {
    const char* folder;
    const char* name;
    const char* joined;
  };
  const Join cases[] = {
      {"C:\\Quillmere", "Preferences.start", "C:\\Quillmere\\Preferences.start"},
      {"C:\\Quillmere\\", "\\Preferences.start", "C:\\Quillmere\\Preferences.start"},
      {"C:/Logs/", "x.out", "C:/Logs/x.out"},
      {"C:", "x.out", "C:x.out"},
      {"", "x.out", "x.out"},
  };
  for (const Join& c : cases) EXPECT_EQ(qmos::JoinPath(c.folder, c.name), c.joined) << c.folder << " + " << c.name;
}

}  // namespace
