// The tools on Windows: the registry is the system's, arguments and file names come
// from the UTF-16 API, and the standard streams are switched to binary.
#include "tool_platform.h"
#include "win32/utf16.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include <windows.h>
#include <shellapi.h>

namespace qmtools {

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  if (length > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return args;
}

void UseBinaryStandardStreams() {
  for (std::FILE* stream : {stdin, stdout, stderr}) ::_setmode(::_fileno(stream), _O_BINARY);
}

bool PathExists(const std::string& path) {
  return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> RefuseRegistryFile(bool fileOption) {
  const char* variable = std::getenv("QUILLMERE_REGISTRY");
  if (!fileOption && (variable == nullptr || *variable == '\0')) return std::nullopt;
  return std::string(fileOption ? "--registry" : "$QUILLMERE_REGISTRY") +
         " cannot be used here: on Windows the registry is the system's, not a file; "
         "load values into it with reg import FILE.reg";
}

std::string RegistryDescription() { return "the system's registry"; }

const char* RegistryUsageText() {
  return "On Windows the registry is the system's: there is no registry file, and\n"
         "--registry and $QUILLMERE_REGISTRY are refused.\n";
}

const char* ModulePathUsageText() {
  return "MODULE is the DLL's path; a relative path is taken from the current folder.\n";
}

}  // namespace qmtools
