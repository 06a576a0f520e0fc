// The listening side: the shared TLS listener, whose accept thread gives each client
// it numbers a session.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client_session.h"
#include "simcommon/tls_listener.h"

namespace muxsim {

class TlsServer final : public simcommon::ListeningServer {
public:
    TlsServer(simcommon::ListenConfig config, SessionContext context);
    ~TlsServer() override;
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    // Loads the certificate, listens and starts accepting. Throws std::runtime_error.
    void Start() override;
    std::uint16_t port() const override { return listener_.port(); }
    const std::string& host() const override { return listener_.host(); }

    // The session numbered `number`, or the newest one not yet closed when empty.
    // Null with `error` set when there is none or it is closed.
    std::shared_ptr<ClientSession> Find(std::optional<int> number, std::string& error);
    std::vector<std::shared_ptr<ClientSession>> Sessions();

    // Stops accepting, closes every client gracefully and waits for their threads.
    void Stop() override;

private:
    // On the accept thread: a session for the accepted socket.
    void Accept(int number, int fd, const std::string& peer);

    SessionContext context_;
    std::mutex sessions_mutex_;
    std::vector<std::shared_ptr<ClientSession>> sessions_;  // under sessions_mutex_
    bool stopped_ = false;
    // Last, so that the accept thread has ended before the sessions go.
    simcommon::TlsListener listener_;
};

}  // namespace muxsim
