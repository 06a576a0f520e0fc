#include "simcommon/client_stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include "simcommon/tls_listener.h"

namespace simcommon {

namespace {

constexpr int kWriteChunk = 16384;

// The cause of a failed TLS call with error `err`, in words.
std::string FailureText(int err, int saved_errno) {
    switch (err) {
        case SSL_ERROR_ZERO_RETURN:
            return "client closed the TLS connection";
        case SSL_ERROR_SYSCALL:
            ERR_clear_error();
            if (saved_errno == ECONNRESET) return "connection reset by the client";
            if (saved_errno != 0) return std::strerror(saved_errno);
            return "client closed the TCP connection without a TLS close";
        case SSL_ERROR_SSL:
            if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ERR_clear_error();
                return "client closed the TCP connection without a TLS close";
            }
            return TakeSslError();
        default:
            ERR_clear_error();
            return "TLS error " + std::to_string(err);
    }
}

}  // namespace

ClientStream::ClientStream(int number, int fd, std::string peer)
    : number_(number), fd_(fd), peer_(std::move(peer)) {}

ClientStream::~ClientStream() { Close(); }

std::optional<std::string> ClientStream::Open(SSL_CTX* ctx) {
    if (fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) != 0) {
        return "cannot set up the connection: " + std::string(std::strerror(errno));
    }
    ERR_clear_error();
    ssl_ = SSL_new(ctx);
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) return "cannot set up TLS: " + TakeSslError();
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return std::nullopt;
}

TlsResult ClientStream::Outcome(int ret, int saved_errno) {
    TlsResult result;
    const int err = SSL_get_error(ssl_, ret);
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
        result.status = err == SSL_ERROR_WANT_WRITE ? TlsStatus::kWantWrite : TlsStatus::kWantRead;
        return result;
    }
    result.status = TlsStatus::kFailed;
    result.peer_closed = err == SSL_ERROR_ZERO_RETURN;
    if (err == SSL_ERROR_SYSCALL) result.sys_errno = saved_errno;
    result.cause = FailureText(err, saved_errno);
    return result;
}

TlsResult ClientStream::Accept() {
    ERR_clear_error();
    errno = 0;
    const int ret = SSL_accept(ssl_);
    if (ret == 1) return {};
    return Outcome(ret, errno);
}

TlsResult ClientStream::Read(char* buffer, std::size_t size) {
    ERR_clear_error();
    errno = 0;
    const int n = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (n <= 0) return Outcome(n, errno);
    TlsResult result;
    result.bytes = static_cast<std::size_t>(n);
    return result;
}

TlsResult ClientStream::Flush() {
    while (!out_.empty()) {
        const int len = write_len_ > 0
                            ? write_len_
                            : static_cast<int>(std::min<std::size_t>(out_.size(), kWriteChunk));
        ERR_clear_error();
        errno = 0;
        const int n = SSL_write(ssl_, out_.data(), len);
        if (n > 0) {
            out_.erase(0, static_cast<std::size_t>(n));
            write_len_ = 0;
            continue;
        }
        TlsResult result = Outcome(n, errno);
        if (result.waits()) write_len_ = len;
        return result;
    }
    return {};
}

void ClientStream::SendClose() {
    ERR_clear_error();
    SSL_shutdown(ssl_);  // the client's reply is read by Discard
    ERR_clear_error();
    shutdown(fd_, SHUT_WR);
}

void ClientStream::AnswerClose() {
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

TlsStatus ClientStream::Discard() {
    char buffer[16384];
    for (;;) {
        ERR_clear_error();
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) continue;
        const int err = SSL_get_error(ssl_, n);
        ERR_clear_error();
        if (err == SSL_ERROR_WANT_READ) return TlsStatus::kWantRead;
        if (err == SSL_ERROR_WANT_WRITE) return TlsStatus::kWantWrite;
        return TlsStatus::kFailed;
    }
}

void ClientStream::Reset() {
    if (fd_ < 0) return;
    // A zero linger time makes close() send a reset instead of a normal close.
    const linger reset{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd_);
    fd_ = -1;
}

void ClientStream::Close() {
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    out_.clear();
    write_len_ = 0;
}

Json ClientStream::Event() const {
    Json event = Json::object();
    event["client"] = number_;
    return event;
}

Json ClientStream::Connected() const {
    Json event = Event();
    event["peer"] = peer_;
    event["protocol"] = SSL_get_version(ssl_);
    return event;
}

}  // namespace simcommon
