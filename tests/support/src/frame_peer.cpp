#include "testsupport/frame_peer.h"

#include <chrono>
#include <string_view>

#include "frame.h"
#include "qmos/clock.h"

namespace testsupport {

std::string ReceivedFrame::Value(const std::string& name) const {
  return FieldValue(fields, name).value_or("<absent>");
}

std::vector<std::string> ReceivedFrame::Names() const {
  std::vector<std::string> names;
  for (const auto& field : fields) names.push_back(field.first);
  return names;
}

FramePeer::FramePeer(const TestPki& pki) : LoopbackTlsServer(pki) { Start(); }

FramePeer::~FramePeer() { Stop(); }

std::vector<ReceivedFrame> FramePeer::Frames() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return frames_;
}

std::vector<ReceivedFrame> FramePeer::Frames(const std::string& command) const {
  std::vector<ReceivedFrame> matching;
  for (const ReceivedFrame& frame : Frames())
    if (frame.Value("command") == command) matching.push_back(frame);
  return matching;
}

bool FramePeer::WaitFor(const std::function<bool(const std::vector<ReceivedFrame>&)>& pred,
                        int ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(frames_); });
}

bool FramePeer::WaitForCount(const std::string& command, std::size_t count, int ms) const {
  return WaitFor(
      [&](const std::vector<ReceivedFrame>& frames) {
        std::size_t seen = 0;
        for (const ReceivedFrame& frame : frames)
          if (frame.Value("command") == command) ++seen;
        return seen >= count;
      },
      ms);
}

// Reads frames until the client ends the connection, the test drops it or the peer
// stops.
void FramePeer::Serve(SSL* ssl, int index, const std::function<bool()>& held) {
  vantiro::FrameDecoder decoder;
  char buffer[4096];
  while (held()) {
    const int got = SSL_read(ssl, buffer, sizeof buffer);
    if (got > 0) {
      decoder.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
      if (decoder.failed()) badStream_ = true;
      std::lock_guard<std::mutex> guard(mutex_);
      while (auto text = decoder.Pop())
        frames_.push_back({index, *text, ParseFields(*text), qmos::MonotonicMs()});
      changed_.notify_all();
    } else if (SSL_get_error(ssl, got) != SSL_ERROR_WANT_READ) {
      break;
    }
  }
}

}  // namespace testsupport
