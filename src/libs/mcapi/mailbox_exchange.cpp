#include "mailbox_exchange.h"

#include <algorithm>
#include <chrono>

#include "frame.h"
#include "qmos/clock.h"
#include "qmos/secure_clear.h"

namespace vantiro::mcapi {

namespace {

using Clock = std::chrono::steady_clock;

// Reads size bytes before the deadline. ReadExact's own bound restarts with every
// byte; asking it to stop once the deadline has passed keeps a server that drips
// bytes from holding the caller past the bound.
bool ReadBefore(TlsConnection& connection, char* data, std::size_t size, Clock::time_point deadline,
                const StopCheck& stop) {
  if (size == 0) return true;
  const auto left = static_cast<std::uint32_t>(std::max<std::int64_t>(qmos::MsLeft(deadline), 1));
  return connection.ReadExact(data, size, left,
                              [deadline, &stop] { return Clock::now() >= deadline || (stop && stop()); });
}

}  // namespace

std::optional<std::string> ExchangeFrames(TlsConnection& connection, const std::string& request,
                                          std::uint32_t timeoutMs, const StopCheck& stop,
                                          bool awaitAnswer) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string frame = EncodeFrame(request);
  const std::size_t frameSize = frame.size();
  const int written = connection.Write(frame.data(), frameSize, timeoutMs,
                                       [deadline, &stop] { return Clock::now() >= deadline || (stop && stop()); });
  qmos::SecureClear(frame);  // it carried the password
  if (written <= 0 || static_cast<std::size_t>(written) != frameSize) return std::nullopt;

  const StopCheck answerStop = awaitAnswer ? StopCheck() : stop;
  char prefix[kFramePrefixSize];
  if (!ReadBefore(connection, prefix, sizeof prefix, deadline, answerStop)) return std::nullopt;
  const std::optional<std::size_t> length = ParseFramePrefix(std::string_view(prefix, sizeof prefix));
  if (!length || *length > kMaxAnswerText) return std::nullopt;

  std::string text(*length, '\0');
  if (!ReadBefore(connection, text.data(), text.size(), deadline, answerStop)) return std::nullopt;
  if (text.find('\0') != std::string::npos) return std::nullopt;
  return text;
}

}  // namespace vantiro::mcapi
