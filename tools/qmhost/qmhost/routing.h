// The host's publish/subscribe routing: who subscribed to which queue, the
// publications waiting for delivery on the main thread, and the services whose
// lookups the host answers. Every part is safe to use from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmhost {

// Plug-ins are known by their index in the host's list.
class Subscriptions {
 public:
  // False when the plug-in had subscribed to the queue already (it is delivered once).
  bool Add(const std::string& queue, int plugin);
  // The subscribers of a queue, in the order they subscribed.
  std::vector<int> Of(const std::string& queue) const;
  void RemovePlugin(int plugin);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::vector<int>> byQueue_;
};

struct Delivery {
  std::string queue;
  std::string data;
};

class DeliveryQueue {
 public:
  void Push(Delivery delivery);
  std::optional<Delivery> Pop();
  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Delivery> queue_;
};

struct ServiceAddress {
  std::string host;
  std::uint16_t port = 0;
};

class Services {
 public:
  void Set(const std::string& name, ServiceAddress address);
  void Remove(const std::string& name);
  std::optional<ServiceAddress> Find(const std::string& name) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, ServiceAddress> byName_;
};

constexpr const char* kServiceLookupRequest = "service_lookup_request";
constexpr const char* kServiceLookupResponse = "service_lookup_response";

// The value of a field in queue data ("key:value" lines, each ended by a line feed;
// the last line may lack it). Nothing when the field is absent.
std::optional<std::string> QueueDataField(std::string_view data, std::string_view key);

// The answer's data: "service_name:NAME\nip_address:HOST\ntcp_port:PORT\n".
std::string ServiceLookupAnswer(const std::string& name, const ServiceAddress& address);

// Parses "NAME=HOST:PORT" (the --service option). The port is after the last colon.
std::optional<std::pair<std::string, ServiceAddress>> ParseServiceOption(std::string_view text);

}  // namespace qmhost
