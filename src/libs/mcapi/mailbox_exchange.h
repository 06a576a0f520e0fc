// One request and its answer on a mailbox-server connection: the request goes out
// as one frame, the answer is read as one frame, both within one time bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tls/tls_connection.h"

namespace vantiro::mcapi {

// The longest answer text taken: preferences are short, and a larger announced length
// is a broken or hostile server, not something to buffer.
inline constexpr std::size_t kMaxAnswerText = 1024 * 1024;

// Sends request as a frame and returns the text of the answer frame. Writing and
// waiting for the answer together take at most timeoutMs. nullopt when the request
// cannot be written, no complete answer comes in time, the stream ends first, or the
// answer is malformed: a prefix that is not eight digits and a line feed, a length
// above kMaxAnswerText, or a NUL byte in the text (packet texts hold none, and the
// fields after it would be lost).
// stop (may be empty) ends the write early, and the wait for the answer too unless
// awaitAnswer is set: a request that has gone out whole is then answered or timed out.
std::optional<std::string> ExchangeFrames(TlsConnection& connection, const std::string& request,
                                          std::uint32_t timeoutMs, const StopCheck& stop = {},
                                          bool awaitAnswer = false);

}  // namespace vantiro::mcapi
