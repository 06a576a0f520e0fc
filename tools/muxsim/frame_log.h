// The commands of the frames received from all clients, in arrival order, for the
// "wait-frame" control command.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace muxsim {

class FrameLog {
public:
    // Notes a received frame's command (empty for a frame without one).
    void Record(const std::string& command);

    // Waits until a frame with `command` has arrived since the previous wait ended
    // and returns true; frames up to that one no longer count for later waits. On
    // time-out returns false, and every frame seen so far stops counting.
    bool WaitFor(const std::string& command, std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::string> pending_;  // frames since the previous wait ended
};

}  // namespace muxsim
