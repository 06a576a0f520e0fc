// The yardstick: a bare OpenSSL client on a blocking socket to 127.0.0.1, which writes
// frames ("%08d\n" and the text, one SSL_write each) and reads the answers itself,
// with no threads, queues or tables in between. It does not verify the server,
// like a plug-in without a configured CA file.
#pragma once

#include <cstdint>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

namespace bench {

class BareClient {
 public:
  explicit BareClient(std::uint16_t port);
  ~BareClient();
  BareClient(const BareClient&) = delete;
  BareClient& operator=(const BareClient&) = delete;

  // Writes one frame of text; false on failure.
  bool WriteFrame(const std::string& text);
  // Reads one frame; false on failure or the end of the stream.
  bool ReadFrame(std::string& text);

 private:
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
  int fd_ = -1;
};

}  // namespace bench
