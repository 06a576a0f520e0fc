// TlsConnection: one TLS client connection (to the multiplexor, or to the mailbox
// server), owning its OpenSSL connection object (with the socket BIO that the object
// owns) and its socket.
//
// Held by std::shared_ptr: the supervisor, the writer and the reader each keep a
// reference. Shutdown() may be called on any thread while another is inside an
// operation: it wakes every waiter (the socket is shut down, not closed), and the
// OpenSSL object and the descriptor are freed only when the last holder lets go.
//
// Every OpenSSL call on the connection is serialised by one mutex. The socket is
// non-blocking, and no operation holds the mutex while it waits for the socket, so
// a reader waiting for data never stalls a writer and the other way round.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "qmos/socket.h"

struct ssl_st;
struct ssl_ctx_st;

namespace vantiro {

// Asked while an operation waits; true means give up now.
using StopCheck = std::function<bool()>;

// The outcome of one read.
enum class TlsIo {
  Done,        // bytes were read
  WouldBlock,  // nothing to read yet: wait for the socket and try again
  Closed,      // the peer ended the stream, or the connection was shut down
  Failed,      // a TLS or socket error
};

// Where opening a connection failed, with what OpenSSL said.
struct TlsOpenFailure {
  enum class Step { None, NewConnection, NewBio, Handshake } step = Step::None;
  unsigned long error = 0;  // the first OpenSSL error code, 0 when there was none
  std::string errorText;    // its text (or why the handshake stopped)
};

class TlsConnection {
 public:
  // Makes the TLS connection over a connected socket and runs the client handshake
  // on it, waiting at most timeoutMs and ending early when stop says so. Returns null
  // and fills failure when any step fails; the socket is closed then.
  static std::shared_ptr<TlsConnection> Open(ssl_ctx_st* ctx, qmos::Socket socket,
                                             std::uint32_t timeoutMs, const StopCheck& stop,
                                             TlsOpenFailure& failure);

  ~TlsConnection();
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;

  // Writes all size bytes as one TLS write. When the socket would block, waits for it
  // at most timeoutMs in all, asking stop between short waits. Returns size on
  // success, 0 or less on failure (shut down, peer gone, time-out, stopped, TLS
  // error).
  int Write(const char* data, std::size_t size, std::uint32_t timeoutMs,
            const StopCheck& stop = {});

  // One read of at most size bytes; got says how many came.
  TlsIo Read(char* data, std::size_t size, std::size_t& got);

  // Reads exactly size bytes, waiting for the socket in short steps; gives up when the
  // stream ends, on an error, when no byte has come for stallMs, or when stop says so.
  // The wait starts again with every byte that arrives: a slow peer that keeps
  // sending is waited for, one that falls silent is not.
  // stalled (when given) tells whether it gave up for the silence.
  bool ReadExact(char* data, std::size_t size, std::uint32_t stallMs,
                 const StopCheck& stop = {}, bool* stalled = nullptr);

  // Nonzero while the TLS layer holds bytes taken from the socket that no read has
  // returned yet (decrypted, or records still to decrypt, whole or in part): the
  // socket no longer shows them.
  int Pending();

  // Waits at most ms until a read would find something: bytes buffered in the TLS
  // layer, data on the socket, end of stream or an error. Ready at once once shut down.
  qmos::WaitStatus WaitReadable(std::uint32_t ms);

  // Sends the TLS close notice (one try, no wait for the peer's) and shuts the socket
  // down for both directions, which wakes any thread waiting on it. Safe to call
  // more than once and from any thread.
  void Shutdown();
  bool IsShutDown() const { return shutDown_.load(std::memory_order_acquire); }

  // The descriptor, for diagnostics; it stays valid until the last holder lets go.
  int Fd() const { return socket_.Fd(); }

 private:
  TlsConnection(ssl_st* ssl, qmos::Socket socket);

  // Waits for the socket as OpenSSL asked (readable or writable), at most ms.
  qmos::WaitStatus WaitFor(bool writable, std::uint32_t ms) const;

  std::mutex mutex_;  // serialises every call on ssl_
  ssl_st* ssl_;       // owns the socket BIO
  // Under mutex_: the last read found too little to return (only part of a record
  // is buffered), so the socket must bring more before a read can succeed.
  bool readNeedsSocket_ = false;
  qmos::Socket socket_;
  std::atomic<bool> shutDown_{false};
};

}  // namespace vantiro
