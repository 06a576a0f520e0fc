#include "frame.h"

#include <stdexcept>

namespace vantiro {
namespace {

constexpr std::size_t kDigits = 8;

}  // namespace

std::string EncodeFrame(std::string_view text) {
    if (text.size() > kMaxFrameText) throw std::length_error("frame text longer than 99999999 bytes");
    std::string frame(kFramePrefixSize, '0');
    std::size_t length = text.size();
    for (std::size_t i = kDigits; i-- > 0; length /= 10) {
        frame[i] = static_cast<char>('0' + length % 10);
    }
    frame[kDigits] = '\n';
    frame.append(text);
    return frame;
}

std::optional<std::size_t> ParseFramePrefix(std::string_view prefix) {
    if (prefix.size() != kFramePrefixSize || prefix[kDigits] != '\n') return std::nullopt;
    std::size_t length = 0;
    for (std::size_t i = 0; i < kDigits; ++i) {
        const char c = prefix[i];
        if (c < '0' || c > '9') return std::nullopt;
        length = length * 10 + static_cast<std::size_t>(c - '0');
    }
    return length;
}

FrameDecoder::FrameDecoder(std::size_t max_text) : max_text_(max_text) {}

void FrameDecoder::Feed(std::string_view bytes) {
    if (failed_) return;
    buffer_.append(bytes);
    Decode();
}

void FrameDecoder::Decode() {
    while (!failed_ && buffer_.size() - consumed_ >= kFramePrefixSize) {
        const auto length =
            ParseFramePrefix(std::string_view(buffer_).substr(consumed_, kFramePrefixSize));
        if (!length || *length > max_text_) {
            failed_ = true;
            break;
        }
        if (buffer_.size() - consumed_ - kFramePrefixSize < *length) break;
        ready_.emplace_back(buffer_, consumed_ + kFramePrefixSize, *length);
        consumed_ += kFramePrefixSize + *length;
    }
    // Drop the decoded bytes once they make up the larger part of the buffer, so that
    // feeding a long stream in small pieces stays linear.
    if (consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    } else if (consumed_ > buffer_.size() / 2) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
}

std::optional<std::string> FrameDecoder::Pop() {
    if (ready_.empty()) return std::nullopt;
    std::string text = std::move(ready_.front());
    ready_.pop_front();
    return text;
}

}  // namespace vantiro
