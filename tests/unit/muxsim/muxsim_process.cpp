#include "muxsim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

extern char** environ;

namespace muxsim_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "muxsim-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

MuxsimProcess::MuxsimProcess(const std::vector<std::string>& args) {
    const char* bin_dir = std::getenv("QM_TEST_BIN_DIR");
    const std::string program = std::string(bin_dir ? bin_dir : ".") + "/muxsim";
    int in_pipe[2];
    int out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in_pipe[0]);
    close(out_pipe[1]);
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
    if (rc != 0) {
        pid_ = -1;
        close(in_fd_);
        close(out_fd_);
        throw std::runtime_error("cannot start " + program);
    }
    reader_ = std::thread([this] { ReadEvents(); });
}

MuxsimProcess::~MuxsimProcess() {
    CloseInput();
    if (pid_ > 0 && !status_) {
        // End of input is "quit": every run must end cleanly, which also catches
        // reports of the sanitizers in the child (they change its exit status).
        const auto status = WaitExit(10s);
        EXPECT_EQ(status, 0) << "muxsim did not exit cleanly at end of input";
        if (!status) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (reader_.joinable()) reader_.join();  // the output ends with the process
    if (out_fd_ >= 0) close(out_fd_);
}

std::unique_ptr<MuxsimProcess> MuxsimProcess::Listening(const std::filesystem::path& cert_dir,
                                                        const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--make-certs", cert_dir.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    auto process = std::make_unique<MuxsimProcess>(args);
    const Json listening = process->WaitEvent("listening");
    if (!listening.is_null()) process->port_ = listening["port"].get<int>();
    return process;
}

void MuxsimProcess::Command(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(in_fd_, text.data() + done, text.size() - done);
        if (n <= 0) {
            ADD_FAILURE() << "cannot write command " << line;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void MuxsimProcess::CloseInput() {
    if (in_fd_ >= 0) close(in_fd_);
    in_fd_ = -1;
}

void MuxsimProcess::ReadEvents() {
    std::string buffer;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(out_fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t newline;
        while ((newline = buffer.find('\n')) != std::string::npos) {
            const std::string line = buffer.substr(0, newline);
            buffer.erase(0, newline + 1);
            Json event = Json::parse(line, nullptr, false);
            if (event.is_discarded()) {
                ADD_FAILURE() << "not a JSON event line: " << line;
                continue;
            }
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
            arrived_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    output_ended_ = true;
    arrived_.notify_all();
}

std::vector<Json> MuxsimProcess::events() {
    std::lock_guard lock(mutex_);
    return events_;
}

Json MuxsimProcess::WaitFor(const std::function<bool(const Json&)>& match,
                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        while (cursor_ < events_.size()) {
            const Json& event = events_[cursor_++];
            if (match(event)) return event;
        }
        if (output_ended_ || arrived_.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: events may have come with the time-out.
            if (cursor_ < events_.size()) continue;
            ADD_FAILURE() << "no matching event; last event: "
                          << (events_.empty() ? std::string("(none)") : events_.back().dump());
            return Json();
        }
    }
}

Json MuxsimProcess::WaitEvent(const std::string& name, const Json& subset,
                              std::chrono::milliseconds timeout) {
    return WaitFor(
        [&](const Json& event) {
            if (event.value("event", "") != name) return false;
            for (auto it = subset.begin(); it != subset.end(); ++it) {
                if (!event.contains(it.key()) || event[it.key()] != it.value()) return false;
            }
            return true;
        },
        timeout);
}

std::optional<int> MuxsimProcess::WaitExit(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace muxsim_test
