#include "qmhost/routing.h"

#include <algorithm>
#include <charconv>

namespace qmhost {

bool Subscriptions::Add(const std::string& queue, int plugin) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& subscribers = byQueue_[queue];
  if (std::find(subscribers.begin(), subscribers.end(), plugin) != subscribers.end()) return false;
  subscribers.push_back(plugin);
  return true;
}

std::vector<int> Subscriptions::Of(const std::string& queue) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = byQueue_.find(queue);
  return found == byQueue_.end() ? std::vector<int>{} : found->second;
}

void Subscriptions::RemovePlugin(int plugin) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [queue, subscribers] : byQueue_)
    subscribers.erase(std::remove(subscribers.begin(), subscribers.end(), plugin),
                      subscribers.end());
}

void DeliveryQueue::Push(Delivery delivery) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(delivery));
}

std::optional<Delivery> DeliveryQueue::Pop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return std::nullopt;
  Delivery next = std::move(queue_.front());
  queue_.pop_front();
  return next;
}

std::size_t DeliveryQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

void Services::Set(const std::string& name, ServiceAddress address) {
  std::lock_guard<std::mutex> lock(mutex_);
  byName_[name] = std::move(address);
}

void Services::Remove(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  byName_.erase(name);
}

std::optional<ServiceAddress> Services::Find(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = byName_.find(name);
  if (found == byName_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> QueueDataField(std::string_view data, std::string_view key) {
  while (!data.empty()) {
    const auto end = data.find('\n');
    const std::string_view line = data.substr(0, end);
    data = end == std::string_view::npos ? std::string_view{} : data.substr(end + 1);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || line.substr(0, colon) != key) continue;
    return std::string(line.substr(colon + 1));
  }
  return std::nullopt;
}

std::string ServiceLookupAnswer(const std::string& name, const ServiceAddress& address) {
  return "service_name:" + name + "\nip_address:" + address.host +
         "\ntcp_port:" + std::to_string(address.port) + "\n";
}

std::optional<std::pair<std::string, ServiceAddress>> ParseServiceOption(std::string_view text) {
  const auto equals = text.find('=');
  const auto colon = text.rfind(':');
  if (equals == std::string_view::npos || equals == 0 || colon == std::string_view::npos ||
      colon <= equals + 1)
    return std::nullopt;
  const std::string_view portText = text.substr(colon + 1);
  unsigned port = 0;
  const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (ec != std::errc() || end != portText.data() + portText.size() || port == 0 || port > 65535)
    return std::nullopt;
  ServiceAddress address;
  address.host = std::string(text.substr(equals + 1, colon - equals - 1));
  address.port = static_cast<std::uint16_t>(port);
  return std::make_pair(std::string(text.substr(0, equals)), address);
}

}  // namespace qmhost
