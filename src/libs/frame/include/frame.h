// Frames on the multiplexor stream: the text's length in bytes as exactly eight decimal
// digits with leading zeros, a line feed, then the text. Nothing lies between frames.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace vantiro {

inline constexpr std::size_t kFramePrefixSize = 9;
inline constexpr std::size_t kMaxFrameText = 99'999'999;

// The frame of `text`. Throws std::length_error when the text is longer than
// kMaxFrameText.
std::string EncodeFrame(std::string_view text);

// The text length announced by a prefix: exactly eight ASCII digits and a line feed
// (nine bytes in all), else nullopt.
std::optional<std::size_t> ParseFramePrefix(std::string_view prefix);

// Splits a byte stream into frame texts, whatever pieces the bytes arrive in.
class FrameDecoder {
public:
    // Frames announcing more than `max_text` bytes put the decoder in the failed state.
    explicit FrameDecoder(std::size_t max_text = kMaxFrameText);

    // Takes the next bytes of the stream. Ignored once the decoder has failed.
    void Feed(std::string_view bytes);

    // The next complete text, oldest first; nullopt when none is waiting.
    std::optional<std::string> Pop();

    // A bad prefix (or a too large length) was seen; nothing after it is decoded.
    bool failed() const { return failed_; }

    // No partial frame is buffered: the stream could end here cleanly.
    bool at_frame_boundary() const { return buffer_.size() == consumed_; }

private:
    void Decode();

    std::size_t max_text_;
    std::string buffer_;         // bytes not yet turned into texts, from consumed_ on
    std::size_t consumed_ = 0;
    std::deque<std::string> ready_;
    bool failed_ = false;
};

}  // namespace vantiro
