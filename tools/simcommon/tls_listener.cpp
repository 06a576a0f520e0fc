#include "simcommon/tls_listener.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

namespace simcommon {

namespace {

std::string PeerText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

TlsListener::TlsListener(ListenConfig config, EventWriter& events, AcceptHandler on_accept)
    : config_(std::move(config)), events_(events), on_accept_(std::move(on_accept)) {}

TlsListener::~TlsListener() {
    Stop();
    if (ctx_) SSL_CTX_free(ctx_);
}

void TlsListener::Start() {
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (!ctx_) throw std::runtime_error("cannot make a TLS context: " + TakeSslError());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(ctx_, config_.cert_file.c_str()) != 1) {
        throw std::runtime_error("cannot load certificate " + config_.cert_file + ": " +
                                 TakeSslError());
    }
    if (SSL_CTX_use_PrivateKey_file(ctx_, config_.key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx_) != 1) {
        throw std::runtime_error("cannot load key " + config_.key_file + ": " + TakeSslError());
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(config_.host.c_str(), nullptr, &hints, &found); rc != 0) {
        throw std::runtime_error("cannot resolve " + config_.host + ": " + gai_strerror(rc));
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_port = htons(config_.port);

    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    const int yes = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_fd_, 16) != 0) {
        throw std::runtime_error("cannot listen on " + config_.host + ":" +
                                 std::to_string(config_.port) + ": " + std::strerror(errno));
    }
    socklen_t size = sizeof address;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);

    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) throw std::runtime_error("eventfd: " + std::string(std::strerror(errno)));
    accept_thread_ = std::thread([this] { AcceptLoop(); });
}

void TlsListener::AcceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            events_.Error("poll on the listening socket failed: " +
                          std::string(std::strerror(errno)));
            return;
        }
        if (stopping_) return;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
            events_.Error("accept failed: " + std::string(std::strerror(errno)));
            // Out of descriptors or memory: give the system a moment instead of spinning.
            poll(nullptr, 0, 100);
            continue;
        }
        on_accept_(++accepted_, fd, PeerText(peer));
    }
}

void TlsListener::Stop() {
    if (stopping_.exchange(true)) return;
    if (accept_thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
        accept_thread_.join();
    }
    if (listen_fd_ >= 0) close(listen_fd_);
    if (wake_fd_ >= 0) close(wake_fd_);
    listen_fd_ = wake_fd_ = -1;
}

std::string TakeSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown error";
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    return buffer;
}

}  // namespace simcommon
