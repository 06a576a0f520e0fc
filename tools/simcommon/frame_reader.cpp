#include "simcommon/frame_reader.h"

namespace simcommon {

namespace {

constexpr std::size_t kHeadBytes = 16;

}  // namespace

FrameReader::FrameReader(std::size_t max_text) : decoder_(max_text) {}

std::vector<std::string> FrameReader::Feed(std::string_view bytes) {
    std::vector<std::string> frames;
    if (decoder_.failed()) return frames;
    const std::uint64_t before = fed_;
    decoder_.Feed(bytes);
    fed_ += bytes.size();
    while (auto text = decoder_.Pop()) {
        frame_start_ += vantiro::kFramePrefixSize + text->size();
        frames.push_back(std::move(*text));
    }
    if (frame_start_ >= before) {
        // The frame being read starts in these bytes.
        head_ = std::string(bytes.substr(frame_start_ - before, kHeadBytes));
    } else if (head_.size() < kHeadBytes) {
        head_ += bytes.substr(0, kHeadBytes - head_.size());
    }
    return frames;
}

}  // namespace simcommon
