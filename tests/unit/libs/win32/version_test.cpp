// The version library on Windows: the module built with vantiro_embed_version carries
// a VERSIONINFO whose numbers and strings come from the version text, and reads it
// back into buffers of any size; files without the resource give the empty text.
// (version_test.cpp tests the ELF reader of the other systems.)
#include "version.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kProbe = VANTIRO_TEST_PROBE_MODULE;
const std::string kText = VANTIRO_TEST_VERSION_TEXT;

std::string ReadVersion(const std::string& path, int size = 64) {
  std::vector<char> buffer(static_cast<std::size_t>(size) + 8, '#');
  const int length = VER_getFileVersion(path.c_str(), buffer.data(), size);
  EXPECT_EQ(std::string(buffer.begin() + size, buffer.end()), std::string(8, '#')) << "past the buffer";
  EXPECT_EQ(static_cast<std::size_t>(length), std::strlen(buffer.data()));
  return buffer.data();
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(WindowsVersion, TheProbeCarriesTheVersionInfoOfItsText) {
  DWORD ignored = 0;
  std::vector<unsigned char> info(::GetFileVersionInfoSizeW(Wide(kProbe).c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(::GetFileVersionInfoW(Wide(kProbe).c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  void* found = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &found, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(found);
  unsigned n[4] = {};
  ASSERT_EQ(std::sscanf(kText.c_str(), "%u.%u.%u.%u", &n[0], &n[1], &n[2], &n[3]), 4);
  EXPECT_EQ(fixed->dwFileVersionMS, n[0] << 16 | n[1]);
  EXPECT_EQ(fixed->dwProductVersionLS, n[2] << 16 | n[3]);

  const std::pair<const wchar_t*, std::string> strings[] = {
      {L"FileVersion", kText},
      {L"ProductVersion", kText},
      {L"ProductName", "Vantiro Backend"},
      {L"FileDescription", "Vantiro Backend"},
      {L"OriginalFilename", std::filesystem::path(kProbe).filename().string()}};
  for (const auto& [name, expected] : strings) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    ASSERT_TRUE(::VerQueryValueW(info.data(), key.c_str(), &found, &length)) << expected;
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(found)), Wide(expected));
  }
}

TEST(WindowsVersion, TheTextIsReadBackWholeOrCutAndFilesWithoutTheResourceGiveNone) {
  EXPECT_EQ(ReadVersion(kProbe), kText);
  EXPECT_EQ(ReadVersion(kProbe, 4), kText.substr(0, 3));
  EXPECT_EQ(ReadVersion(kProbe, 1), "");
  char self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  const std::filesystem::path text = std::filesystem::temp_directory_path() / "vantiro-version.txt";
  std::ofstream(text) << "not a module\n";
  for (const std::string& path : {std::string(self), text.string(), text.string() + ".missing",
                                  text.parent_path().string()}) {
    EXPECT_EQ(ReadVersion(path), "") << path;
  }
  std::filesystem::remove(text);
}

}  // namespace
