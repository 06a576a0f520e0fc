#include "tls_server.h"

namespace muxsim {

TlsServer::TlsServer(simcommon::ListenConfig config, SessionContext context)
    : context_(context),
      listener_(std::move(config), context.events,
                [this](int number, int fd, const std::string& peer) { Accept(number, fd, peer); }) {}

TlsServer::~TlsServer() { Stop(); }

void TlsServer::Start() { listener_.Start(); }

void TlsServer::Accept(int number, int fd, const std::string& peer) {
    auto session =
        std::make_shared<ClientSession>(number, fd, peer, listener_.context(), context_);
    {
        std::lock_guard lock(sessions_mutex_);
        // Ended sessions stay listed, but their threads are joined here so that a
        // long run with many reconnections does not keep finished threads around.
        for (const auto& old : sessions_) {
            if (!old->open()) old->Join();
        }
        sessions_.push_back(session);
    }
    session->Start();
}

std::shared_ptr<ClientSession> TlsServer::Find(std::optional<int> number, std::string& error) {
    std::lock_guard lock(sessions_mutex_);
    if (number) {
        for (const auto& session : sessions_) {
            if (session->number() != *number) continue;
            if (!session->open()) {
                error = "client " + std::to_string(*number) + " is closed";
                return nullptr;
            }
            return session;
        }
        error = "no client " + std::to_string(*number);
        return nullptr;
    }
    for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it) {
        if ((*it)->open()) return *it;
    }
    error = "no client is connected";
    return nullptr;
}

std::vector<std::shared_ptr<ClientSession>> TlsServer::Sessions() {
    std::lock_guard lock(sessions_mutex_);
    return sessions_;
}

void TlsServer::Stop() {
    if (stopped_) return;
    stopped_ = true;
    listener_.Stop();
    for (const auto& session : Sessions()) {
        session->Post([](ClientSession& s) { s.CloseGracefully("server quits"); });
    }
    for (const auto& session : Sessions()) session->Join();
}

}  // namespace muxsim
