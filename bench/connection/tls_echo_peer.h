// A multiplexor stand-in for the benchmarks: a TLS server on 127.0.0.1 (port picked
// by the system, throw-away self-signed certificate) that answers every frame that
// carries an "id" with the frame "id:<id>\nresult:ok\n" at once, and counts the frames
// it has received. One thread per connection, blocking reads and writes; the plug-in
// and the bare client meet exactly the same peer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_ctx_st;
struct ssl_st;

namespace bench {

using Clock = std::chrono::steady_clock;

class TlsEchoPeer {
 public:
  TlsEchoPeer();
  ~TlsEchoPeer();
  TlsEchoPeer(const TlsEchoPeer&) = delete;
  TlsEchoPeer& operator=(const TlsEchoPeer&) = delete;

  std::uint16_t Port() const { return port_; }

  // While on, every answer is followed, in the same write, by the notice
  // "id:mux-N\ncommand:activity\n": a plug-in relays it to the client's "mc_activity"
  // queue after it has handled the answer, which tells a waiting benchmark that it has.
  void SetNoticeAfterAnswer(bool on) { noticeAfterAnswer_ = on; }

  // Frames received so far, over every connection.
  std::uint64_t Received() const { return received_.load(std::memory_order_acquire); }
  // Waits until at least count frames have arrived (bounded); returns when the last of
  // them arrived, or nothing after the time-out.
  bool WaitReceived(std::uint64_t count, Clock::time_point& at,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // When the last frame arrived.
  Clock::time_point LastArrival() const;
  // The text of the last frame received whose "command" is command (empty if none).
  std::string LastFrame(const std::string& command) const;

  // Called on the connection's thread after each "hello" has been answered (set it
  // before a client connects).
  void SetOnLogin(std::function<void()> onLogin) { onLogin_ = std::move(onLogin); }
  // Ends every open connection (the socket is shut down, as a dropped link would be).
  void DropClients();
  // Connections accepted so far.
  std::uint64_t Accepted() const { return accepted_.load(std::memory_order_acquire); }

 private:
  struct Client {
    int fd = -1;  // -1 once the connection's thread has closed it
    std::thread thread;
  };
  void Accept();
  void Serve(Client* client);
  // Joins the threads of connections that have ended (the caller holds mutex_).
  void ReapEndedLocked();

  ssl_ctx_st* ctx_ = nullptr;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> noticeAfterAnswer_{false};
  std::atomic<std::uint64_t> received_{0};
  std::uint64_t awaited_ = 0;  // under mutex_: the count WaitReceived waits for
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  Clock::time_point lastArrival_{};
  std::vector<std::pair<std::string, std::string>> lastByCommand_;
  std::atomic<std::uint64_t> accepted_{0};
  std::function<void()> onLogin_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::thread acceptor_;
};

// Reads exactly size bytes (blocking); false on the end of the stream or an error.
bool ReadAll(ssl_st* ssl, char* data, std::size_t size);

}  // namespace bench
