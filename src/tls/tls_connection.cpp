#include "tls/tls_connection.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

#include "qmos/clock.h"
#include "qmos/time_scale.h"
#include "tls/tls_context.h"

namespace vantiro {

namespace {

using qmos::MsLeft;

// The longest single wait inside an operation (scaled): how soon a stop request or
// a shutdown is noticed by a thread that waits for the socket.
constexpr std::int64_t kStepMs = 100;

using Clock = std::chrono::steady_clock;

std::uint32_t NextStep(Clock::time_point deadline) {
  return static_cast<std::uint32_t>(std::min(MsLeft(deadline), qmos::ScaledMs(kStepMs)));
}

using tls::ErrorText;

// Takes the first queued OpenSSL error of this thread (and drops the rest).
void TakeError(TlsOpenFailure& failure) {
  failure.error = ERR_get_error();
  failure.errorText = ErrorText(failure.error);
  ERR_clear_error();
}

}  // namespace

std::shared_ptr<TlsConnection> TlsConnection::Open(ssl_ctx_st* ctx, qmos::Socket socket,
                                                   std::uint32_t timeoutMs, const StopCheck& stop,
                                                   TlsOpenFailure& failure) {
  failure = TlsOpenFailure{};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  ERR_clear_error();

  SSL* ssl = ctx != nullptr ? SSL_new(ctx) : nullptr;
  if (ssl == nullptr) {
    failure.step = TlsOpenFailure::Step::NewConnection;
    TakeError(failure);
    return nullptr;  // the socket closes as it goes out of scope
  }
  // The socket stays ours: the BIO must not close it when the TLS object is freed.
  // OpenSSL takes a socket as an int on every system, Windows included (qmos/socket.h).
  BIO* bio = BIO_new_socket(socket.Fd(), BIO_NOCLOSE);
  if (bio == nullptr) {
    failure.step = TlsOpenFailure::Step::NewBio;
    TakeError(failure);
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
    return nullptr;
  }
  SSL_set_bio(ssl, bio, bio);
  // A peer that closes without the TLS close notice simply ends the stream.
  SSL_set_options(ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Each read takes what the socket has, not one record's header and then its body:
  // frames that come together cost one system call, not two per record.
  SSL_set_read_ahead(ssl, 1);

  std::string modeError;
  const bool nonBlocking = socket.SetNonBlocking(true, &modeError);
  std::shared_ptr<TlsConnection> connection(new TlsConnection(ssl, std::move(socket)));
  if (!nonBlocking) {
    failure.step = TlsOpenFailure::Step::Handshake;
    failure.errorText = modeError;
    return nullptr;
  }

  // The handshake on the non-blocking socket: every wait is short, so a server that
  // accepts the connection and never answers costs at most timeoutMs, and a stop
  // request is noticed within one step.
  for (;;) {
    std::unique_lock<std::mutex> lock(connection->mutex_);
    ERR_clear_error();
    const int rc = SSL_connect(ssl);
    if (rc > 0) return connection;
    const int reason = SSL_get_error(ssl, rc);
    if (reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) {
      failure.step = TlsOpenFailure::Step::Handshake;
      TakeError(failure);
      if (failure.error == 0) {
        failure.errorText = reason == SSL_ERROR_SYSCALL || reason == SSL_ERROR_ZERO_RETURN
                                ? "the connection was closed during the handshake"
                                : "the handshake failed";
      }
      SSL_shutdown(ssl);
      ERR_clear_error();
      return nullptr;
    }
    lock.unlock();
    const char* stopped = nullptr;
    if (stop && stop()) {
      stopped = "the handshake was cancelled";
    } else if (MsLeft(deadline) == 0) {
      stopped = "the handshake timed out";
    } else if (connection->WaitFor(reason == SSL_ERROR_WANT_WRITE, NextStep(deadline)) ==
               qmos::WaitStatus::Error) {
      stopped = "the socket failed during the handshake";
    }
    if (stopped != nullptr) {
      failure.step = TlsOpenFailure::Step::Handshake;
      failure.error = 0;
      failure.errorText = stopped;
      std::lock_guard<std::mutex> relock(connection->mutex_);
      SSL_shutdown(ssl);
      ERR_clear_error();
      return nullptr;
    }
  }
}

TlsConnection::TlsConnection(ssl_st* ssl, qmos::Socket socket)
    : ssl_(ssl), socket_(std::move(socket)) {}

TlsConnection::~TlsConnection() {
  SSL_free(ssl_);  // frees the BIO; the socket closes after this body
}

qmos::WaitStatus TlsConnection::WaitFor(bool writable, std::uint32_t ms) const {
  return writable ? socket_.WaitWritable(ms) : socket_.WaitReadable(ms);
}

int TlsConnection::Write(const char* data, std::size_t size, std::uint32_t timeoutMs,
                         const StopCheck& stop) {
  if (size == 0) return 0;
  if (data == nullptr || size > static_cast<std::size_t>(INT_MAX)) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (IsShutDown()) return -1;
    ERR_clear_error();
    // Partial writes are off: a successful call has written every byte. A call that
    // would block is repeated with the same arguments, as OpenSSL requires.
    const int rc = SSL_write(ssl_, data, static_cast<int>(size));
    if (rc > 0) return rc;
    const int reason = SSL_get_error(ssl_, rc);
    ERR_clear_error();
    if (reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) return rc;
    lock.unlock();
    if ((stop && stop()) || MsLeft(deadline) == 0) return -1;
    if (WaitFor(reason == SSL_ERROR_WANT_WRITE, NextStep(deadline)) == qmos::WaitStatus::Error) {
      return -1;
    }
  }
}

TlsIo TlsConnection::Read(char* data, std::size_t size, std::size_t& got) {
  got = 0;
  if (IsShutDown()) return TlsIo::Closed;
  if (size == 0) return TlsIo::Done;
  if (data == nullptr) return TlsIo::Failed;
  std::lock_guard<std::mutex> lock(mutex_);
  ERR_clear_error();
  const int wanted = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  const int rc = SSL_read(ssl_, data, wanted);
  if (rc > 0) {
    got = static_cast<std::size_t>(rc);
    readNeedsSocket_ = false;
    return TlsIo::Done;
  }
  const int reason = SSL_get_error(ssl_, rc);
  ERR_clear_error();
  switch (reason) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      readNeedsSocket_ = true;
      return IsShutDown() ? TlsIo::Closed : TlsIo::WouldBlock;
    case SSL_ERROR_ZERO_RETURN:
      return TlsIo::Closed;
    default:
      return TlsIo::Failed;
  }
}

bool TlsConnection::ReadExact(char* data, std::size_t size, std::uint32_t stallMs,
                              const StopCheck& stop, bool* stalled) {
  if (stalled != nullptr) *stalled = false;
  const auto stall = std::chrono::milliseconds(stallMs);
  auto deadline = Clock::now() + stall;
  std::size_t done = 0;
  while (done < size) {
    std::size_t got = 0;
    const TlsIo io = Read(data + done, size - done, got);
    if (io == TlsIo::Done) {
      done += got;
      deadline = Clock::now() + stall;
      continue;
    }
    if (io != TlsIo::WouldBlock) return false;
    if (stop && stop()) return false;
    if (MsLeft(deadline) == 0) {
      if (stalled != nullptr) *stalled = true;
      return false;
    }
    if (WaitReadable(NextStep(deadline)) == qmos::WaitStatus::Error) return false;
  }
  return true;
}

int TlsConnection::Pending() {
  std::lock_guard<std::mutex> lock(mutex_);
  const int decrypted = SSL_pending(ssl_);
  return decrypted > 0 ? decrypted : (SSL_has_pending(ssl_) == 1 ? 1 : 0);
}

qmos::WaitStatus TlsConnection::WaitReadable(std::uint32_t ms) {
  if (IsShutDown()) return qmos::WaitStatus::Ready;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Bytes the TLS layer took from the socket are invisible to it: decrypted ones,
    // and with read-ahead whole records not yet decrypted. What is buffered counts
    // until a read has found it to be only part of a record, whose rest the socket
    // must bring (waiting on the socket is right for that).
    if (SSL_pending(ssl_) > 0 || (SSL_has_pending(ssl_) == 1 && !readNeedsSocket_)) {
      return qmos::WaitStatus::Ready;
    }
  }
  return socket_.WaitReadable(ms);
}

void TlsConnection::Shutdown() {
  if (shutDown_.exchange(true, std::memory_order_acq_rel)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ERR_clear_error();
    SSL_shutdown(ssl_);  // one try at the close notice; the socket is non-blocking
    ERR_clear_error();
  }
  // Shut down, not closed: the descriptor stays valid for threads still inside a
  // call, which now see the end of the stream; it is closed with the last holder.
  socket_.Shutdown(qmos::ShutdownHow::Both);
}

}  // namespace vantiro
