// MessageCenterAPI: each call makes one connection to the mailbox server, sends one
// request, reads one answer and closes the connection again. Nothing is written to
// any output; every failure is the call's return value.
#include "mcapi.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "mailbox_exchange.h"
#include "preferences_packet.h"
#include "qmos/secure_clear.h"
#include "qmos/time_scale.h"
#include "tls/tls_client_connect.h"

namespace {

using vantiro::mcapi::Packet;

// Connecting (TCP and handshake together) and, separately, sending the request and
// receiving the answer, each take at most this long.
constexpr std::int64_t kBoundMs = 10000;

std::uint32_t BoundMs() {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(qmos::ScaledMs(kBoundMs), 1, UINT32_MAX));
}

}  // namespace

struct MessageCenterAPI::Impl {
  std::string address;
  std::uint16_t port = 0;
  std::string profile;
  std::string password;
  std::function<bool()> stop;
  std::shared_ptr<vantiro::TlsConnection> connection;

  ~Impl() { qmos::SecureClear(password); }

  bool Stopped() const { return stop && stop(); }

  // Connects when not connected, sends the request, reads the answer, and closes the
  // connection whatever happened. Null when no valid answer could be had, or when
  // the stop check stopped it (awaitAnswer: not once the request has gone out).
  Packet Exchange(const std::string& request, bool awaitAnswer) {
    if (Stopped()) return nullptr;
    if (!connection) {
      vantiro::tls::ClientConnectFailure failure;
      connection = vantiro::tls::ConnectClient(address, port, BoundMs(), stop, nullptr, failure);
      if (!connection) return nullptr;
    }
    std::optional<std::string> answer;
    try {
      answer = vantiro::mcapi::ExchangeFrames(*connection, request, BoundMs(), stop, awaitAnswer);
    } catch (...) {
      Close();
      throw;
    }
    Close();
    if (!answer) return nullptr;
    return vantiro::mcapi::ParseAnswer(*answer);
  }

  void Close() {
    if (const std::shared_ptr<vantiro::TlsConnection> open = std::exchange(connection, nullptr)) {
      open->Shutdown();
    }
  }
};

MessageCenterAPI::MessageCenterAPI(const std::string& address, std::int16_t port,
                                   const std::string& profile, const std::string& password)
    : impl_(new (std::nothrow) Impl) {
  if (impl_ == nullptr) return;  // every call then fails with -1
  try {
    impl_->address = address;
    // The port arrives as a signed 16-bit number; ports above 32767 come as negatives.
    impl_->port = static_cast<std::uint16_t>(port);
    impl_->profile = profile;
    impl_->password = password;
  } catch (...) {
    delete impl_;
    impl_ = nullptr;
  }
}

MessageCenterAPI::~MessageCenterAPI() {
  disconnect();
  delete impl_;
}

int MessageCenterAPI::getPreferences(HASHTABLE* table) {
  if (impl_ == nullptr || table == nullptr) return -1;
  try {
    std::optional<std::string> request =
        vantiro::mcapi::BuildRequest(vantiro::mcapi::kGetCommand, impl_->profile, impl_->password, nullptr);
    if (!request) return -1;
    const qmos::ClearOnExit clearRequest(*request);
    const Packet answer = impl_->Exchange(*request, false);
    if (!answer) return -1;
    // A refusal leaves the caller's table as it was.
    if (!vantiro::mcapi::IsOk(answer.get())) return -2;
    return vantiro::mcapi::StorePreferences(answer.get(), table) ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

int MessageCenterAPI::putPreferences(HASHTABLE* table) {
  if (impl_ == nullptr || table == nullptr) return -1;
  try {
    std::optional<std::string> request =
        vantiro::mcapi::BuildRequest(vantiro::mcapi::kPutCommand, impl_->profile, impl_->password, table);
    if (!request) return -1;
    const qmos::ClearOnExit clearRequest(*request);
    const Packet answer = impl_->Exchange(*request, true);
    if (!answer) return -1;
    return vantiro::mcapi::IsOk(answer.get()) ? 0 : 1;
  } catch (...) {
    return -1;
  }
}

void MessageCenterAPI::setStopCheck(std::function<bool()> stop) {
  if (impl_ != nullptr) impl_->stop = std::move(stop);
}

void MessageCenterAPI::disconnect() {
  if (impl_ == nullptr) return;
  try {
    impl_->Close();
  } catch (...) {
    // Shutting down a connection that is already failing has nothing left to report.
  }
}
