#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "qmos/socket.h"

namespace qmos {

std::string Ipv4Address::ToString() const {
  in_addr raw{};
  raw.s_addr = htonl(value);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &raw, text, sizeof text);
  return text;
}

std::string ErrnoText(const std::string& text, int err) {
  char buffer[256] = {};
  // GNU strerror_r returns the text (which may or may not be buffer).
  const char* message = ::strerror_r(err, buffer, sizeof buffer);
  return text + ": " + message + " (" + std::to_string(err) + ")";
}

Ipv4Address Ipv4FromDottedText(const std::string& text) {
  return Ipv4Address{ntohl(::inet_addr(text.c_str()))};
}

bool ResolveIPv4(const std::string& name, Ipv4Address& address, std::string& error, int* code) {
  if (code != nullptr) *code = 0;
  if (name.empty() || name.find('\0') != std::string::npos) {
    error = "no host name given";
    if (code != nullptr) *code = EAI_NONAME;
    return false;
  }
  in_addr raw{};
  if (::inet_pton(AF_INET, name.c_str(), &raw) == 1) {
    address.value = ntohl(raw.s_addr);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    if (code != nullptr) *code = rc;
    error = "cannot resolve " + name + ": " +
            (rc == EAI_SYSTEM ? ErrnoText("system error", errno) : std::string(::gai_strerror(rc)));
    return false;
  }
  bool ok = false;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr &&
        entry->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in in{};
      std::memcpy(&in, entry->ai_addr, sizeof in);
      address.value = ntohl(in.sin_addr.s_addr);
      ok = true;
      break;
    }
  }
  ::freeaddrinfo(found);
  if (!ok) {
    error = "cannot resolve " + name + ": no IPv4 address";
    if (code != nullptr) *code = EAI_NODATA;
  }
  return ok;
}

}  // namespace qmos
