// Name lookup and error texts on Windows: Winsock 2's GetAddrInfoW, and the system's
// message table for Winsock codes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <string>

#include "core/system_message.h"
#include "core/wide_text.h"
#include "qmos/socket.h"
#include "net/win32/winsock_start.h"

namespace qmos {

namespace detail {

int StartWinsock() {
  static const int code = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return code;
}

}  // namespace detail

namespace {

// The system's text for a Winsock (or other Windows) error code.
std::string SystemMessage(int code) {
  std::string message = detail::SystemMessage(static_cast<unsigned long>(code));
  return message.empty() ? "Unknown error" : message;
}

}  // namespace

// Written out by hand: the system's formatter needs Winsock started, and the dotted
// form is four numbers.
std::string Ipv4Address::ToString() const {
  return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "." +
         std::to_string((value >> 8) & 0xFF) + "." + std::to_string(value & 0xFF);
}

// Codes below WSABASEERR are the C run-time's errno values (strerror knows them);
// Winsock's codes, from WSABASEERR up, are the system's, with texts in its message table.
std::string ErrnoText(const std::string& text, int err) {
  std::string message;
  if (err >= WSABASEERR) {
    message = SystemMessage(err);
  } else {
    char buffer[256] = {};
    if (::strerror_s(buffer, sizeof buffer, err) != 0) buffer[0] = '\0';
    message = buffer[0] != '\0' ? buffer : "Unknown error";
  }
  return text + ": " + message + " (" + std::to_string(err) + ")";
}

Ipv4Address Ipv4FromDottedText(const std::string& text) {
  detail::StartWinsock();
  return Ipv4Address{ntohl(::inet_addr(text.c_str()))};
}

bool ResolveIPv4(const std::string& name, Ipv4Address& address, std::string& error, int* code) {
  if (code != nullptr) *code = 0;
  if (name.empty() || name.find('\0') != std::string::npos) {
    error = "no host name given";
    if (code != nullptr) *code = EAI_NONAME;
    return false;
  }
  if (const int started = detail::StartWinsock(); started != 0) {
    if (code != nullptr) *code = started;
    error = "cannot resolve " + name + ": " + ErrnoText("WSAStartup", started);
    return false;
  }
  in_addr raw{};
  if (::inet_pton(AF_INET, name.c_str(), &raw) == 1) {
    address.value = ntohl(raw.s_addr);
    return true;
  }
  // The wide form of the lookup: names are UTF-8 here, and the narrow form would read
  // them in the ANSI code page.
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* found = nullptr;
  const std::wstring wideName = detail::WideFromUtf8(name);
  const int rc = ::GetAddrInfoW(wideName.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    // The failure is a Winsock code (the EAI_ values are Winsock codes on Windows).
    if (code != nullptr) *code = rc;
    error = "cannot resolve " + name + ": " + SystemMessage(rc);
    return false;
  }
  bool ok = false;
  for (const ADDRINFOW* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr &&
        entry->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in in{};
      std::memcpy(&in, entry->ai_addr, sizeof in);
      address.value = ntohl(in.sin_addr.s_addr);
      ok = true;
      break;
    }
  }
  ::FreeAddrInfoW(found);
  if (!ok) {
    error = "cannot resolve " + name + ": no IPv4 address";
    if (code != nullptr) *code = EAI_NODATA;
  }
  return ok;
}

}  // namespace qmos
