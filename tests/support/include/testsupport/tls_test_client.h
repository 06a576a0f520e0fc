// A small blocking TLS client for tests of TLS servers (muxsim): connects to 127.0.0.1, verifies
// the server against a CA file, writes and reads frames, and tells how the server
// ended the connection.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "testsupport/packet_fields.h"

namespace testsupport {

enum class ReadEnd {
    kData,         // bytes were read
    kTimeout,      // nothing within the time
    kCloseNotify,  // the server closed TLS properly
    kEof,          // the TCP connection ended without a TLS close
    kReset,        // the TCP connection was reset
    kError,        // another TLS error
};

class TlsTestClient {
public:
    TlsTestClient() = default;
    ~TlsTestClient();
    TlsTestClient(const TlsTestClient&) = delete;
    TlsTestClient& operator=(const TlsTestClient&) = delete;

    // Connects and completes the handshake. False with error() set on failure.
    bool Connect(int port, const std::filesystem::path& ca_file);
    const std::string& error() const { return error_; }
    long verify_result() const { return verify_result_; }
    int fd() const { return fd_; }
    SSL* ssl() const { return ssl_; }

    // Writes what the connection takes now: the count, 0 when it would block (repeat
    // with the same arguments), -1 on failure.
    int WriteSome(const char* data, std::size_t size);
    void SendBytes(const std::string& bytes);
    void SendFrame(const std::string& text);
    // Sends a packet of `fields` (in order) and returns its text.
    std::string SendPacket(const Fields& fields);

    // Reads exactly `count` bytes; fewer when the connection ends or time runs out,
    // with the reason in last_end().
    std::string ReadExactly(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The next frame's fields in order, or nullopt (see last_end()).
    std::optional<Fields> ReadPacket(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Reads until the connection ends; returns all bytes read on the way.
    std::string ReadToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ReadEnd last_end() const { return last_end_; }

    // Closes the TCP connection without a TLS close.
    void DropTcp();

private:
    // Waits until the socket is ready for what `err` (WANT_READ/WANT_WRITE) asks.
    bool WaitFor(int err, std::chrono::steady_clock::time_point deadline) const;

    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    int fd_ = -1;
    std::string error_;
    long verify_result_ = 0;
    ReadEnd last_end_ = ReadEnd::kData;
};

}  // namespace testsupport
