#include "testsupport/tls_test_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <openssl/err.h>
#include <gtest/gtest.h>

#include "frame.h"
#include "packet.h"

namespace testsupport {

TlsTestClient::~TlsTestClient() {
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    if (fd_ >= 0) close(fd_);
}

bool TlsTestClient::Connect(int port, const std::filesystem::path& ca_file) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_ || SSL_CTX_load_verify_locations(ctx_, ca_file.c_str(), nullptr) != 1) {
        error_ = "cannot load " + ca_file.string();
        return false;
    }
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error_ = "connect failed";
        return false;
    }
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_set1_host(ssl_, "localhost");
    ERR_clear_error();
    if (SSL_connect(ssl_) != 1) {
        verify_result_ = SSL_get_verify_result(ssl_);
        char buffer[256] = "";
        ERR_error_string_n(ERR_get_error(), buffer, sizeof buffer);
        error_ = buffer;
        ERR_clear_error();
        return false;
    }
    // From here on the socket does not block: a readable socket may hold only part of
    // a TLS record, or a record without application data, and a blocking read would
    // then hang past every time limit.
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool TlsTestClient::WaitFor(int err, std::chrono::steady_clock::time_point deadline) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{fd_, static_cast<short>(err == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    return left.count() > 0 && poll(&fd, 1, static_cast<int>(left.count())) > 0;
}

int TlsTestClient::WriteSome(const char* data, std::size_t size) {
    ERR_clear_error();
    const int n = SSL_write(ssl_, data, static_cast<int>(size));
    if (n > 0) return n;
    const int err = SSL_get_error(ssl_, n);
    if (err != SSL_ERROR_WANT_WRITE && err != SSL_ERROR_WANT_READ) {
        char buffer[256] = "";
        ERR_error_string_n(ERR_peek_error(), buffer, sizeof buffer);
        error_ = "TLS write failed: error " + std::to_string(err) + " " + buffer;
    }
    ERR_clear_error();
    return err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ ? 0 : -1;
}

void TlsTestClient::SendBytes(const std::string& bytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n = WriteSome(bytes.data() + done, bytes.size() - done);
        if (n < 0 || (n == 0 && !WaitFor(SSL_ERROR_WANT_WRITE, deadline))) {
            ADD_FAILURE() << (n < 0 ? error_ : "TLS write timed out");
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void TlsTestClient::SendFrame(const std::string& text) { SendBytes(vantiro::EncodeFrame(text)); }

std::string TlsTestClient::SendPacket(const Fields& fields) {
    PACKET packet = PH_create_empty();
    for (const auto& [name, value] : fields) PH_add(packet, name.c_str(), value.c_str());
    int length = 0;
    const std::string text(PH_build_packet_no_id(packet, &length));
    PH_destroy(packet);
    SendFrame(text);
    return text;
}

std::string TlsTestClient::ReadExactly(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string bytes;
    last_end_ = ReadEnd::kData;
    while (bytes.size() < count) {
        char buffer[16384];
        const std::size_t want = std::min(sizeof buffer, count - bytes.size());
        ERR_clear_error();
        errno = 0;
        const int n = SSL_read(ssl_, buffer, static_cast<int>(want));
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        const int err = SSL_get_error(ssl_, n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            if (!WaitFor(err, deadline)) {
                last_end_ = ReadEnd::kTimeout;
                return bytes;
            }
            continue;
        }
        if (err == SSL_ERROR_ZERO_RETURN) {
            last_end_ = ReadEnd::kCloseNotify;
            // Answer as the plug-in does: close TLS, then the sending side of TCP.
            SSL_shutdown(ssl_);
            shutdown(fd_, SHUT_WR);
        } else if (err == SSL_ERROR_SYSCALL && errno == ECONNRESET) {
            last_end_ = ReadEnd::kReset;
        } else if ((err == SSL_ERROR_SYSCALL && errno == 0) ||
                   (err == SSL_ERROR_SSL &&
                    ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
            last_end_ = ReadEnd::kEof;
        } else {
            last_end_ = ReadEnd::kError;
        }
        ERR_clear_error();
        return bytes;
    }
    return bytes;
}

std::optional<Fields> TlsTestClient::ReadPacket(std::chrono::milliseconds timeout) {
    const std::string prefix = ReadExactly(vantiro::kFramePrefixSize, timeout);
    if (prefix.size() < vantiro::kFramePrefixSize) return std::nullopt;
    const auto length = vantiro::ParseFramePrefix(prefix);
    if (!length) {
        ADD_FAILURE() << "bad frame prefix from the server";
        return std::nullopt;
    }
    const std::string body = ReadExactly(*length, timeout);
    if (body.size() < *length) return std::nullopt;
    return ParseFields(body);
}

std::string TlsTestClient::ReadToEnd(std::chrono::milliseconds timeout) {
    std::string all;
    for (;;) {
        all += ReadExactly(1 << 20, timeout);
        if (last_end_ != ReadEnd::kData) return all;
    }
}

void TlsTestClient::DropTcp() {
    if (ssl_) SSL_free(ssl_);
    ssl_ = nullptr;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

}  // namespace testsupport
