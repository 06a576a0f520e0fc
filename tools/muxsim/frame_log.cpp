#include "frame_log.h"

#include <algorithm>

namespace muxsim {

void FrameLog::Record(const std::string& command) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(command);
    }
    arrived_.notify_all();
}

bool FrameLog::WaitFor(const std::string& command, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    auto match = pending_.end();
    const bool found = arrived_.wait_for(lock, timeout, [&] {
        match = std::find(pending_.begin(), pending_.end(), command);
        return match != pending_.end();
    });
    if (found) {
        pending_.erase(pending_.begin(), match + 1);
    } else {
        pending_.clear();
    }
    return found;
}

}  // namespace muxsim
