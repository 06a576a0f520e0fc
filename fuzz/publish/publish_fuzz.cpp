// Feeds arbitrary queue messages to the plug-in object's Publish: the text up to the
// first line feed is the queue, the rest the data. One plug-in, initialised once with
// a host that does nothing, takes every input, so the state that messages leave
// behind (aborts, restarts, addresses) carries over to the next ones.
//
// Nothing may reach the network beyond this machine, nor its name resolver: a lookup
// answer naming an address is only passed on when the address is 127.0.0.1 and its
// port (when it gives one) that of a listener held here, which accepts nothing. Such
// an input is judged on the text exactly as the plug-in will read it: the same
// conversion to the client's strings and back, and the same packet parsing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "packet.h"
#include "plugin/VantiroImpl.h"
#include "plugin/port_text.h"
#include "qmos/bstr.h"
#include "qmos/registry.h"
#include "testsupport/quiet_host.h"
#include "testsupport/tls_server.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "publish_fuzz: %s\n", what);
  std::abort();
}

struct Session {
  testsupport::QuietHost host;
  testsupport::SilentListener listener;
  vantiro::TVantiroImpl* plugin = nullptr;
};
Session* g_session = nullptr;

// Whether the plug-in may be given this message: a lookup answer may only name this
// machine's loopback address and the silent listener's port.
bool StaysLocal(const std::string& queue, const std::string& data) {
  if (queue != "service_lookup_response") return true;
  PACKET packet = PH_create(data.c_str(), static_cast<int>(data.size()));
  Check(packet != nullptr, "PH_create");
  const char* host = PH_valueOf(packet, "ip_address");
  const char* port = PH_valueOf(packet, "tcp_port");
  bool local = true;
  if (host != nullptr && *host != '\0') {
    local = std::strcmp(host, "127.0.0.1") == 0 &&
            (port == nullptr || *port == '\0' || vantiro::PortFromText(port) == g_session->listener.Port());
  }
  PH_destroy(packet);
  return local;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char dir[] = "/tmp/publish_fuzz.XXXXXX";
  Check(::mkdtemp(dir) != nullptr, "mkdtemp");
  qmos::SetRegistryFile(std::string(dir) + "/registry.reg");
  g_session = new Session();
  g_session->plugin = new vantiro::TVantiroImpl();
  Check(g_session->plugin->Initialize(&g_session->host) == qmos::S_OK, "Initialize");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\n');
  const std::string_view queueBytes = input.substr(0, split);
  const std::string_view dataBytes = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  const qmos::Bstr queue(queueBytes);
  const qmos::Bstr body(dataBytes);
  if (!StaysLocal(qmos::BstrToUtf8(queue.Get()), qmos::BstrToUtf8(body.Get()))) return 0;
  const qmos::HRESULT result = g_session->plugin->Publish(queue.Get(), body.Get());
  Check(result == qmos::S_OK || result == qmos::S_FALSE, "Publish failed");
  return 0;
}
