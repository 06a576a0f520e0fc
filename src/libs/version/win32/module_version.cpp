// The version text of a Windows module: the "FileVersion" string of its VERSIONINFO
// resource, in the string table of the resource's first translation (what
// vantiro_embed_version writes). The system reads the resource; a file that is not
// a module, or a module without the resource, gives nothing.
#include "module_version.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace vantiro::version {

namespace {

// The UTF-16 form of a UTF-8 path; false for bytes that are not UTF-8, which name no
// file rather than some other one.
bool Widen(const char* text, std::wstring& wide) {
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (size <= 1) return false;
    wide.resize(static_cast<std::size_t>(size));
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), size) != size) {
        return false;
    }
    wide.pop_back();  // the terminator
    return true;
}

}  // namespace

std::optional<std::string> ReadModuleVersion(const char* path, std::size_t max_bytes) {
    std::wstring file;
    if (!path || !Widen(path, file)) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> info(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return std::nullopt;

    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* found = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &found, &length) ||
        length < sizeof(Translation)) {
        return std::nullopt;
    }
    const Translation first = *static_cast<const Translation*>(found);
    wchar_t key[64];
    std::swprintf(key, sizeof key / sizeof key[0], L"\\StringFileInfo\\%04x%04x\\FileVersion",
                  static_cast<unsigned>(first.language), static_cast<unsigned>(first.codePage));
    if (!::VerQueryValueW(info.data(), key, &found, &length) || length == 0) return std::nullopt;

    // length counts characters, the terminator included when there is one.
    const auto* text = static_cast<const wchar_t*>(found);
    const int wide = static_cast<int>(length);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::nullopt;
    std::string version(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, wide, version.data(), bytes, nullptr, nullptr);
    if (version.size() > max_bytes) version.resize(max_bytes);
    return version;
}

}  // namespace vantiro::version
