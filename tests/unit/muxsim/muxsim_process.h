// Runs the built muxsim as a child process for the tests: command lines go to its
// standard input, its event lines are read with time limits, and every run must end
// cleanly at the end of its input.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/child_process.h"

namespace muxsim_test {

using Json = testsupport::Process::Event;
using namespace std::chrono_literals;

class MuxsimProcess : public testsupport::Process {
public:
    // Starts muxsim with `args`; nothing is waited for.
    explicit MuxsimProcess(const std::vector<std::string>& args);

    // Starts muxsim --make-certs DIR plus `extra` and waits for its "listening" event.
    static std::unique_ptr<MuxsimProcess> Listening(const std::filesystem::path& cert_dir,
                                                    const std::vector<std::string>& extra = {});

    int port() const { return port_; }

private:
    int port_ = 0;
};

}  // namespace muxsim_test
