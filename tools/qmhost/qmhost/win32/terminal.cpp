// The terminal on Windows: the console (CONIN$ and CONOUT$, whatever the standard
// streams are), read and written in UTF-16; the echo is turned off through the
// console's input mode.
#include <algorithm>

#include "qmhost/terminal.h"
#include "qmos/secure_clear.h"
#include "win32/utf16.h"

#include <windows.h>

namespace qmhost {

struct Terminal::Device {
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;
  DWORD savedMode = 0;
  bool hidden = false;
};

namespace {

HANDLE OpenConsole(const wchar_t* name) {
  return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

}  // namespace

std::unique_ptr<Terminal> Terminal::Open() {
  auto device = std::make_unique<Device>();
  device->in = OpenConsole(L"CONIN$");
  device->out = OpenConsole(L"CONOUT$");
  DWORD mode = 0;
  if (device->in == INVALID_HANDLE_VALUE || device->out == INVALID_HANDLE_VALUE ||
      !::GetConsoleMode(device->in, &mode)) {
    if (device->in != INVALID_HANDLE_VALUE) ::CloseHandle(device->in);
    if (device->out != INVALID_HANDLE_VALUE) ::CloseHandle(device->out);
    return nullptr;
  }
  return std::unique_ptr<Terminal>(new Terminal(std::move(device)));
}

Terminal::Terminal(std::unique_ptr<Device> device) : device_(std::move(device)) {}

Terminal::~Terminal() {
  ShowTyping();
  ::CloseHandle(device_->in);
  ::CloseHandle(device_->out);
}

void Terminal::Write(std::string_view text) {
  const std::wstring wide = qmtools::WideFromUtf8(text);
  std::size_t done = 0;
  while (done < wide.size()) {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 4096));
    if (!::WriteConsoleW(device_->out, wide.data() + done, size, &written, nullptr) || written == 0)
      return;  // the console went away; reading will end too
    done += written;
  }
}

std::size_t Terminal::ReadSome(char* buffer, std::size_t size) {
  // A UTF-16 unit becomes at most three bytes of UTF-8, so what is read always fits.
  wchar_t chunk[1024];
  const DWORD units = static_cast<DWORD>(std::min<std::size_t>(std::size(chunk), size / 3));
  DWORD got = 0;
  if (units == 0 || !::ReadConsoleW(device_->in, chunk, units, &got, nullptr) || got == 0) return 0;
  // Ctrl-Z (and Enter) at the start of a line: the end of input.
  if (chunk[0] == L'\x1a') return 0;
  std::string text = qmtools::Utf8FromWide(std::wstring_view(chunk, got));
  qmos::SecureClear(chunk, sizeof chunk);  // it may have held a password
  const std::size_t n = std::min(text.size(), size);
  std::copy_n(text.data(), n, buffer);
  // The console shows no line end while the echo is off.
  if (device_->hidden && n > 0 && text[n - 1] == '\n') Write("\n");
  qmos::SecureClear(text);
  return n;
}

bool Terminal::HideTyping() {
  if (device_->hidden) return true;
  if (!::GetConsoleMode(device_->in, &device_->savedMode)) return false;
  device_->hidden = ::SetConsoleMode(device_->in, device_->savedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
  return device_->hidden;
}

void Terminal::ShowTyping() {
  if (!device_->hidden) return;
  ::SetConsoleMode(device_->in, device_->savedMode);
  device_->hidden = false;
}

}  // namespace qmhost
