// The frames of one client's byte stream, whatever pieces the bytes arrive in, with
// the first bytes of the frame being read kept so that a bad one can be described.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame.h"

namespace simcommon {

class FrameReader {
public:
    // Frames announcing more than `max_text` bytes fail the stream.
    explicit FrameReader(std::size_t max_text);

    // Takes the next bytes received; the frame texts they complete, oldest first.
    // Nothing once the stream has failed.
    std::vector<std::string> Feed(std::string_view bytes);

    // A bad prefix, or a length above the limit, was seen; nothing after it is read.
    bool failed() const { return decoder_.failed(); }
    // No partial frame is held: the stream could end here cleanly.
    bool at_frame_boundary() const { return decoder_.at_frame_boundary(); }
    // The first bytes (at most 16) of the frame being read: the bad one once failed.
    const std::string& head() const { return head_; }

private:
    vantiro::FrameDecoder decoder_;
    std::uint64_t fed_ = 0;          // bytes taken so far
    std::uint64_t frame_start_ = 0;  // stream offset where the frame being read starts
    std::string head_;
};

}  // namespace simcommon
