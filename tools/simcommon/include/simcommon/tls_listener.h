// The listening side of an emulator: a TLS server context from a certificate and
// key, a TCP socket on an IPv4 address, and an accept loop on its own thread that
// numbers each accepted socket (1, 2, ... in accept order) and hands it to the
// program. The program owns what it is handed and does the handshake itself, on its
// own thread per client.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include <openssl/ssl.h>

#include "simcommon/event_writer.h"

namespace simcommon {

struct ListenConfig {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;  // 0: the system picks one
    std::string cert_file;   // PEM, may hold the chain
    std::string key_file;
};

// An emulator's server as the program's run drives it: started, asked where it
// listens, and stopped once the command input has ended.
class ListeningServer {
public:
    virtual ~ListeningServer() = default;
    // Listens and starts accepting. Throws std::runtime_error with the cause.
    virtual void Start() = 0;
    virtual const std::string& host() const = 0;
    virtual std::uint16_t port() const = 0;
    // Stops accepting and ends every client. Calling it again does nothing.
    virtual void Stop() = 0;
};

class TlsListener {
public:
    // Runs on the accept thread for each accepted socket: the client's `number`, `fd`
    // (now owned by the handler) and the peer as "address:port".
    using AcceptHandler = std::function<void(int number, int fd, const std::string& peer)>;

    // Accept failures are reported as "error" events on `events`.
    TlsListener(ListenConfig config, EventWriter& events, AcceptHandler on_accept);
    ~TlsListener();
    TlsListener(const TlsListener&) = delete;
    TlsListener& operator=(const TlsListener&) = delete;

    // Loads the certificate and key, listens and starts accepting. Throws
    // std::runtime_error with the cause.
    void Start();
    // The server context for the accepted connections; valid from Start until the
    // listener is destroyed.
    SSL_CTX* context() const { return ctx_; }
    std::uint16_t port() const { return port_; }
    const std::string& host() const { return config_.host; }

    // Stops accepting, waits for the accept thread and closes the listening socket.
    // The handler is not called after it returns. Calling it again does nothing.
    void Stop();

private:
    void AcceptLoop();

    ListenConfig config_;
    EventWriter& events_;
    AcceptHandler on_accept_;
    SSL_CTX* ctx_ = nullptr;
    int listen_fd_ = -1;
    int wake_fd_ = -1;
    std::uint16_t port_ = 0;
    int accepted_ = 0;  // accept thread only
    std::atomic<bool> stopping_{false};
    std::thread accept_thread_;
};

// The oldest queued OpenSSL error as text ("unknown error" when none); clears the
// thread's error queue.
std::string TakeSslError();

}  // namespace simcommon
