// The listening side: a TLS context from a certificate and key, a TCP socket on the
// chosen address, and an accept loop on its own thread that gives each client a
// number (1, 2, ...) and a session.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

#include "client_session.h"

namespace muxsim {

struct ServerConfig {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string cert_file;
    std::string key_file;
    std::size_t max_frame = 1'000'000;
};

class TlsServer {
public:
    TlsServer(ServerConfig config, SessionContext context);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    // Loads the certificate, listens and starts accepting. Throws std::runtime_error.
    void Start();
    std::uint16_t port() const { return port_; }
    const std::string& host() const { return config_.host; }

    // The session numbered `number`, or the newest one not yet closed when empty.
    // Null with `error` set when there is none or it is closed.
    std::shared_ptr<ClientSession> Find(std::optional<int> number, std::string& error);
    std::vector<std::shared_ptr<ClientSession>> Sessions();

    // Stops accepting, closes every client gracefully and waits for their threads.
    void Stop();

private:
    void AcceptLoop();

    ServerConfig config_;
    SessionContext context_;
    SSL_CTX* ctx_ = nullptr;
    int listen_fd_ = -1;
    int wake_fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread accept_thread_;
    std::mutex sessions_mutex_;
    std::vector<std::shared_ptr<ClientSession>> sessions_;
};

}  // namespace muxsim
