// mcsim's server: the shared TLS listener, whose accept thread starts a connection for
// each client it numbers, and the stop descriptor that ends them all.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection.h"
#include "simcommon/tls_listener.h"

namespace mcsim {

class Server final : public simcommon::ListeningServer {
public:
    Server(simcommon::ListenConfig config, EventWriter& events, MailboxStore& store,
           FaultPlan& faults);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens and starts accepting. Throws std::runtime_error with the cause.
    void Start() override;
    std::uint16_t port() const override { return listener_.port(); }
    const std::string& host() const override { return listener_.host(); }

    // Stops accepting, ends every connection (each is closed within its bounded
    // close) and waits for their threads. Calling it again does nothing.
    void Stop() override;

private:
    void Accept(int number, int fd, const std::string& peer);

    ServerContext context_;
    int stop_fd_ = -1;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> connections_;  // under mutex_
    bool stopped_ = false;
    // Last, so that the accept thread has ended before the connections go.
    simcommon::TlsListener listener_;
};

}  // namespace mcsim
