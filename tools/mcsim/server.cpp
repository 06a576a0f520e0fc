#include "server.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <sys/eventfd.h>
#include <unistd.h>

namespace mcsim {

Server::Server(simcommon::ListenConfig config, EventWriter& events, MailboxStore& store,
               FaultPlan& faults)
    : context_{events, store, faults, eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)},
      stop_fd_(context_.stop_fd),
      listener_(std::move(config), events,
                [this](int number, int fd, const std::string& peer) { Accept(number, fd, peer); }) {}

Server::~Server() {
    Stop();
    if (stop_fd_ >= 0) close(stop_fd_);
}

void Server::Start() {
    if (stop_fd_ < 0) throw std::runtime_error("eventfd: " + std::string(std::strerror(errno)));
    listener_.Start();
}

void Server::Accept(int number, int fd, const std::string& peer) {
    auto connection =
        std::make_unique<Connection>(number, fd, peer, listener_.context(), context_);
    connection->Start();
    std::lock_guard lock(mutex_);
    // Finished connections are joined and dropped here, so that a long run does not
    // keep their threads and sockets around.
    std::erase_if(connections_, [](const auto& c) { return c->finished(); });
    connections_.push_back(std::move(connection));
}

void Server::Stop() {
    if (stopped_) return;
    stopped_ = true;
    listener_.Stop();
    // Never read, so it stays readable and every connection's wait ends.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(stop_fd_, &one, sizeof one);
    std::lock_guard lock(mutex_);
    connections_.clear();  // each destructor joins its thread
}

}  // namespace mcsim
