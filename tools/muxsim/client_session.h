// One client connection: its own thread runs a poll loop over the socket that does
// the TLS handshake, reads frames, answers requests (possibly late), sends what the
// operator asks for and applies faults. Every use of the TLS object happens on that
// thread; other threads hand it work with Post.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <openssl/ssl.h>

#include "behaviour.h"
#include "command_parser.h"
#include "event_writer.h"
#include "frame_log.h"
#include "simcommon/client_stream.h"
#include "simcommon/frame_reader.h"

namespace muxsim {

struct SessionContext {
    EventWriter& events;
    Behaviour& behaviour;
    FrameLog& frames;
    std::size_t max_frame;  // longest frame text accepted from a client
};

class ClientSession {
public:
    enum class State { kHandshake, kOpen, kClosing, kClosed };
    using Action = std::function<void(ClientSession&)>;

    // Takes ownership of the connected socket `fd`.
    ClientSession(int number, int fd, std::string peer, SSL_CTX* ctx, SessionContext context);
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    void Start();
    // Waits for the session's thread to end (after a close was posted).
    void Join();

    int number() const { return number_; }
    State state() const { return state_.load(); }
    bool open() const { return state() != State::kClosed; }
    // The client's number, state and modes, for the "clients" listing.
    Json Describe() const;

    // Runs `action` on the session's thread, in posting order. False when the
    // session has already ended (the action is dropped).
    bool Post(Action action);

    // The operations below run on the session's thread only (through Post).

    // Sends one frame with the packet of `fields`; `kind` names it in the event.
    void SendPacket(const FieldList& fields, const std::string& kind);
    // A notice: "id" (given), "command", "profile" (the client's last login profile,
    // when it has logged in), then `fields`; a field given again replaces the earlier
    // value in place.
    void SendNotice(const std::string& command, const std::string& id, const FieldList& fields);
    // Sends `bytes` as they are inside the TLS stream.
    void SendRaw(const std::string& bytes, const std::string& kind);
    // Sends a frame prefix announcing `announced` bytes and the first `sent` of them,
    // then nothing more: requests are still read and reported but get no answer, and
    // later sends are refused, so the client is left inside the frame.
    void SendStalledFrame(std::size_t announced, std::size_t sent);
    // Flushes what is queued, sends the TLS close_notify, closes the TCP connection
    // and reads what the client still sends for at most a second.
    void CloseGracefully(const std::string& why);
    // Resets the TCP connection at once, without a TLS close.
    void Abort(const std::string& why);
    void SetSilent(bool on) { silent_ = on; }
    void SetDelay(long long ms) { delay_ms_ = ms; }
    void SetStopReading(bool on) { stop_reading_ = on; }

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        FieldList fields;
        bool close = false;
    };

    void Run();
    void RunPosted();
    void Step();
    void Handshake();
    void ReadFromClient();
    void OnBytes(const char* data, std::size_t size);
    void HandleFrame(const std::string& text);
    void Schedule(Pending pending);
    void SendDue();
    // False, with an "error" event, when nothing may be sent to the client any more.
    bool MaySend();
    void WriteOut();
    void Drain();
    void Finish(const std::string& why);
    // The cause of a failed TLS call, for the "closed" event.
    static std::string Failure(const simcommon::TlsResult& result);
    int PollTimeoutMs() const;
    Json Base() const { return stream_.Event(); }

    const int number_;
    int wake_fd_;
    SSL_CTX* ctx_;
    SessionContext context_;
    std::thread thread_;

    std::atomic<State> state_{State::kHandshake};
    std::atomic<bool> silent_{false};
    std::atomic<long long> delay_ms_{0};
    std::atomic<bool> stop_reading_{false};

    std::mutex posted_mutex_;
    std::deque<Action> posted_;
    bool ended_ = false;  // under posted_mutex_: no more actions are taken

    // Session-thread state.
    simcommon::ClientStream stream_;
    simcommon::FrameReader reader_;
    bool want_write_ = false;
    std::deque<Pending> pending_;  // answers waiting for their time
    std::optional<std::string> profile_;  // of the client's last "hello"
    bool stalled_ = false;         // inside a frame that never ends: nothing more is sent
    std::string closing_why_;
    bool shutdown_sent_ = false;
    std::chrono::steady_clock::time_point closing_deadline_{};
};

}  // namespace muxsim
