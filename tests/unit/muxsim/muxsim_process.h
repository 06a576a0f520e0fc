// Runs the built muxsim as a child process for the tests: writes command lines to
// its standard input and reads its event lines, with time limits.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace muxsim_test {

using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

// A fresh temporary directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class MuxsimProcess {
public:
    // Starts muxsim with `args`; nothing is waited for.
    explicit MuxsimProcess(const std::vector<std::string>& args);
    ~MuxsimProcess();
    MuxsimProcess(const MuxsimProcess&) = delete;
    MuxsimProcess& operator=(const MuxsimProcess&) = delete;

    // Starts muxsim --make-certs DIR plus `extra` and waits for its "listening" event.
    static std::unique_ptr<MuxsimProcess> Listening(const std::filesystem::path& cert_dir,
                                                    const std::vector<std::string>& extra = {});

    void Command(const std::string& line);
    void CloseInput();

    // The next event (after those already returned) for which `match` holds; events
    // skipped on the way stay in events(). Fails the test and returns null on time-out.
    Json WaitFor(const std::function<bool(const Json&)>& match,
                 std::chrono::milliseconds timeout = 10s);
    // The next event named `name` whose members include every member of `subset`.
    Json WaitEvent(const std::string& name, const Json& subset = Json::object(),
                   std::chrono::milliseconds timeout = 10s);

    // The exit status, or nullopt when it has not ended within the time.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout = 10s);

    int port() const { return port_; }
    // Every event read so far.
    std::vector<Json> events();

private:
    // Reads the event lines as they come, so that muxsim never blocks on a full pipe
    // while a test is busy elsewhere.
    void ReadEvents();

    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Json> events_;  // under mutex_
    bool output_ended_ = false; // under mutex_
    std::size_t cursor_ = 0;
    int port_ = 0;
    std::optional<int> status_;
};

}  // namespace muxsim_test
