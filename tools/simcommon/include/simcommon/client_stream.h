// One accepted client's TLS connection on a non-blocking socket, for the one thread
// that serves the client: the handshake, reads, queued writes, the TLS close and a
// reset. It never waits: a call that would block says what it waits for, and the
// caller polls fd(). Failures are described in the words of the "closed" events.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <openssl/ssl.h>

#include "simcommon/event_writer.h"

namespace simcommon {

enum class TlsStatus { kDone, kWantRead, kWantWrite, kFailed };

// How a TLS call ended.
struct TlsResult {
    TlsStatus status = TlsStatus::kDone;
    std::size_t bytes = 0;     // Read, kDone: how many bytes arrived
    bool peer_closed = false;  // kFailed: the client sent its TLS close
    int sys_errno = 0;         // kFailed: the errno of a failed system call, else 0
    std::string cause;         // kFailed: what happened, e.g. "connection reset by the client"

    bool waits() const { return status == TlsStatus::kWantRead || status == TlsStatus::kWantWrite; }
};

class ClientStream {
public:
    // Takes ownership of the connected socket `fd`; `number` and `peer` name the
    // client in events.
    ClientStream(int number, int fd, std::string peer);
    ~ClientStream();
    ClientStream(const ClientStream&) = delete;
    ClientStream& operator=(const ClientStream&) = delete;

    // Makes the socket non-blocking and the TLS object on `ctx`. The failure
    // ("cannot set up ..."), or nullopt.
    std::optional<std::string> Open(SSL_CTX* ctx);

    // One step of the server side of the handshake.
    TlsResult Accept();
    // What has arrived, up to `size` bytes, into `buffer`.
    TlsResult Read(char* buffer, std::size_t size);

    // Queues bytes to send; Flush writes them.
    void Queue(std::string_view bytes) { out_ += bytes; }
    bool has_output() const { return !out_.empty(); }
    // Writes what is queued until nothing is left (kDone) or TLS must wait. A write
    // that has to wait is later repeated with the same length, as TLS requires.
    TlsResult Flush();

    // Sends the TLS close_notify and closes the sending side of the socket.
    void SendClose();
    // Answers the client's close_notify.
    void AnswerClose();
    // Reads and drops what the client still sends: kWantRead or kWantWrite while its
    // side is open, kFailed once it has closed or failed.
    TlsStatus Discard();
    // Closes the socket at once with a TCP reset (zero linger), without a TLS close.
    void Reset();
    // Frees the TLS object, closes the socket and drops queued bytes. Calling it
    // again does nothing.
    void Close();

    int fd() const { return fd_; }
    // {"client": number}: how every event about this client starts.
    Json Event() const;
    // The members of the "connected" event: client, peer, protocol.
    Json Connected() const;

private:
    // The result of a failed or waiting TLS call that returned `ret`, with `saved_errno`
    // taken right after it.
    TlsResult Outcome(int ret, int saved_errno);

    const int number_;
    int fd_;
    const std::string peer_;
    SSL* ssl_ = nullptr;
    std::string out_;     // bytes waiting to go out
    int write_len_ = 0;   // length of a TLS write to repeat, 0 when none
};

}  // namespace simcommon
