// The host's start-up on Windows: binary standard streams, the console as the
// terminal, and files opened by their UTF-16 names.
#include "qmhost/host_process.h"
#include "tool_platform.h"
#include "win32/utf16.h"

#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace qmhost {

void PrepareProcess() { qmtools::UseBinaryStandardStreams(); }

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))), &mode) != 0;
}

int OpenScript(const std::string& path) {
  return ::_wopen(qmtools::WideFromUtf8(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

std::FILE* OpenEventFile(const std::string& path) {
  return ::_wfopen(qmtools::WideFromUtf8(path).c_str(), L"wb");
}

}  // namespace qmhost
