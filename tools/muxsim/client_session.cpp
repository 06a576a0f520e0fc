#include "client_session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include "packet.h"

namespace muxsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 16384;
constexpr int kWriteChunk = 16384;
constexpr std::size_t kHeadBytes = 16;
constexpr auto kClosingTime = std::chrono::seconds(1);

const char* StateName(ClientSession::State state) {
    switch (state) {
        case ClientSession::State::kHandshake: return "handshake";
        case ClientSession::State::kOpen: return "open";
        case ClientSession::State::kClosing: return "closing";
        case ClientSession::State::kClosed: return "closed";
    }
    return "?";
}

Json FieldsObject(const FieldList& fields) {
    Json object = Json::object();
    for (const auto& [name, value] : fields) object[name] = value;
    return object;
}

}  // namespace

ClientSession::ClientSession(int number, int fd, std::string peer, SSL_CTX* ctx,
                             SessionContext context)
    : number_(number),
      fd_(fd),
      wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      peer_(std::move(peer)),
      ctx_(ctx),
      context_(context),
      decoder_(context.max_frame) {}

ClientSession::~ClientSession() {
    Join();
    if (ssl_) SSL_free(ssl_);
    if (fd_ >= 0) close(fd_);
    if (wake_fd_ >= 0) close(wake_fd_);
}

void ClientSession::Start() { thread_ = std::thread([this] { Run(); }); }

void ClientSession::Join() {
    if (thread_.joinable()) thread_.join();
}

Json ClientSession::Base() const {
    Json base = Json::object();
    base["client"] = number_;
    return base;
}

Json ClientSession::Describe() const {
    Json d = Base();
    d["state"] = StateName(state());
    d["silent"] = silent_.load();
    d["delay_ms"] = delay_ms_.load();
    d["stop_reading"] = stop_reading_.load();
    return d;
}

bool ClientSession::Post(Action action) {
    {
        std::lock_guard lock(posted_mutex_);
        if (ended_) return false;
        posted_.push_back(std::move(action));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
    return true;
}

void ClientSession::RunPosted() {
    std::deque<Action> actions;
    {
        std::lock_guard lock(posted_mutex_);
        actions.swap(posted_);
    }
    for (Action& action : actions) {
        if (state() == State::kClosed) break;
        action(*this);
    }
}

void ClientSession::Run() {
    if (wake_fd_ < 0 || fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) != 0) {
        Finish("cannot set up the connection: " + std::string(std::strerror(errno)));
    } else {
        ERR_clear_error();
        ssl_ = SSL_new(ctx_);
        if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) {
            Finish("cannot set up TLS: " + TakeSslError());
        } else {
            SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        }
    }

    while (state() != State::kClosed) {
        RunPosted();
        if (state() == State::kClosed) break;
        Step();
        if (state() == State::kClosed) break;

        short events = 0;
        const State now = state();
        if (now == State::kHandshake || (now == State::kClosing && shutdown_sent_) ||
            (now == State::kOpen && !stop_reading_)) {
            events |= POLLIN;
        }
        if (want_write_ || (!out_.empty() && !shutdown_sent_)) events |= POLLOUT;
        pollfd fds[2] = {{fd_, events, 0}, {wake_fd_, POLLIN, 0}};
        const int ready = poll(fds, 2, PollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            Finish("poll failed: " + std::string(std::strerror(errno)));
            break;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = read(wake_fd_, &count, sizeof count);
        }
        // Not reading, the hang-up or error would wake the loop for ever: end here.
        if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP)) && !(events & POLLIN) &&
            out_.empty()) {
            Finish("connection lost while not reading");
        }
    }

    std::lock_guard lock(posted_mutex_);
    ended_ = true;
    posted_.clear();
}

int ClientSession::PollTimeoutMs() const {
    std::optional<Clock::time_point> until;
    if (state() == State::kOpen && !pending_.empty()) until = pending_.front().due;
    if (state() == State::kClosing) until = closing_deadline_;
    if (!until) return -1;
    const auto left = *until - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    // Round up so that the loop does not wake just before the time and spin.
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void ClientSession::Step() {
    if (state() == State::kHandshake) Handshake();
    if (state() == State::kOpen) {
        if (!stop_reading_) ReadFromClient();
        if (state() == State::kOpen) SendDue();
        if (state() == State::kOpen) WriteOut();
    }
    if (state() == State::kClosing) Drain();
}

void ClientSession::Handshake() {
    ERR_clear_error();
    const int ret = SSL_accept(ssl_);
    if (ret == 1) {
        want_write_ = false;
        state_ = State::kOpen;
        Json ev = Base();
        ev["peer"] = peer_;
        ev["protocol"] = SSL_get_version(ssl_);
        context_.events.Write("connected", ev);
        return;
    }
    const int err = SSL_get_error(ssl_, ret);
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
        want_write_ = err == SSL_ERROR_WANT_WRITE;
        return;
    }
    Finish("TLS handshake failed: " + ReadFailure(err));
}

std::string ClientSession::ReadFailure(int err) {
    const int saved_errno = errno;
    switch (err) {
        case SSL_ERROR_ZERO_RETURN:
            return "client closed the TLS connection";
        case SSL_ERROR_SYSCALL:
            ERR_clear_error();
            if (saved_errno == ECONNRESET) return "connection reset by the client";
            if (saved_errno == EPIPE) return "client closed the TCP connection";
            if (saved_errno != 0) return std::string(std::strerror(saved_errno));
            return "client closed the TCP connection without a TLS close";
        case SSL_ERROR_SSL:
            if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ERR_clear_error();
                return "client closed the TCP connection without a TLS close";
            }
            return TakeSslError();
        default:
            ERR_clear_error();
            return "TLS error " + std::to_string(err);
    }
}

void ClientSession::ReadFromClient() {
    char buffer[kReadChunk];
    while (state() == State::kOpen && !stop_reading_) {
        ERR_clear_error();
        errno = 0;
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) {
            OnBytes(buffer, static_cast<std::size_t>(n));
            continue;
        }
        const int err = SSL_get_error(ssl_, n);
        if (err == SSL_ERROR_WANT_READ) return;
        if (err == SSL_ERROR_WANT_WRITE) {
            want_write_ = true;
            return;
        }
        std::string why = ReadFailure(err);
        if (!decoder_.at_frame_boundary()) why += " inside a frame";
        if (err == SSL_ERROR_ZERO_RETURN) {
            ERR_clear_error();
            SSL_shutdown(ssl_);  // answer the client's close_notify
            ERR_clear_error();
        }
        Finish(why);
        return;
    }
}

void ClientSession::OnBytes(const char* data, std::size_t size) {
    const std::string_view bytes(data, size);
    const std::uint64_t before = fed_;
    decoder_.Feed(bytes);
    fed_ += size;
    while (auto text = decoder_.Pop()) {
        frame_start_ += vantiro::kFramePrefixSize + text->size();
        HandleFrame(*text);
        if (state() != State::kOpen) return;
    }
    // Keep the first bytes of the frame now being read, to describe a bad one.
    if (frame_start_ >= before) {
        frame_head_ = std::string(bytes.substr(frame_start_ - before, kHeadBytes));
    } else if (frame_head_.size() < kHeadBytes) {
        frame_head_ += bytes.substr(0, kHeadBytes - frame_head_.size());
    }
    if (decoder_.failed()) {
        const auto length =
            vantiro::ParseFramePrefix(std::string_view(frame_head_).substr(0, vantiro::kFramePrefixSize));
        Json ev = Base();
        ev["bytes"] = DescribeBytes(frame_head_);
        context_.events.Error(length ? "frame length " + std::to_string(*length) +
                                           " is above the limit of " +
                                           std::to_string(context_.max_frame) + " bytes"
                                     : "bad frame prefix",
                              ev);
        CloseGracefully("bad frame from the client");
    }
}

void ClientSession::HandleFrame(const std::string& text) {
    FieldList fields;
    PACKET packet = PH_create(text.data(), static_cast<int>(text.size()));
    if (!packet) {
        context_.events.Error("out of memory for a frame", Base());
        return;
    }
    int count = 0;
    const char** names = PH_fields(packet, &count);
    for (int i = 0; names && i < count; ++i) {
        const char* value = PH_valueOf(packet, names[i]);
        fields.emplace_back(names[i], value ? value : "");
    }
    PH_destroy(packet);

    const auto command = FieldValue(fields, "command");
    const auto id = FieldValue(fields, "id");
    Json ev = Base();
    ev["length"] = text.size();
    ev["command"] = command ? Json(*command) : Json(nullptr);
    ev["id"] = id ? Json(*id) : Json(nullptr);
    ev["fields"] = FieldsObject(fields);
    context_.events.Write("frame", ev);

    if (command && *command == "hello") profile_ = FieldValue(fields, "profile");
    context_.frames.Record(command.value_or(""));

    if ((silent_ || stalled_) && !(command && *command == "quit")) return;
    Reply reply = context_.behaviour.ReplyTo(fields);
    if (!reply.problem.empty()) context_.events.Error(reply.problem, Base());
    if (reply.answer) Schedule({Clock::time_point{}, std::move(reply.fields), false});
    if (reply.close_after) Schedule({Clock::time_point{}, {}, true});
}

void ClientSession::Schedule(Pending pending) {
    pending.due = Clock::now() + std::chrono::milliseconds(delay_ms_.load());
    // A shorter delay set meanwhile must not let an answer overtake an earlier one.
    if (!pending_.empty()) pending.due = std::max(pending.due, pending_.back().due);
    pending_.push_back(std::move(pending));
    SendDue();
}

void ClientSession::SendDue() {
    const auto now = Clock::now();
    while (state() == State::kOpen && !pending_.empty() && pending_.front().due <= now) {
        Pending next = std::move(pending_.front());
        pending_.pop_front();
        if (next.close) {
            CloseGracefully("client sent quit");
            return;
        }
        SendPacket(next.fields, "answer");
    }
}

void ClientSession::SendPacket(const FieldList& fields, const std::string& kind) {
    PACKET packet = PH_create_empty();
    if (!packet) {
        context_.events.Error("out of memory for a packet", Base());
        return;
    }
    for (const auto& [name, value] : fields) {
        if (PH_add(packet, name.c_str(), value.c_str()) != 0) {
            Json ev = Base();
            ev["field"] = name;
            context_.events.Error("field refused by the packet library", ev);
            PH_destroy(packet);
            return;
        }
    }
    int length = 0;
    const char* text = PH_build_packet_no_id(packet, &length);
    const std::string body(text ? text : "", text ? static_cast<std::size_t>(length) : 0);
    FieldList sent;
    int count = 0;
    const char** names = PH_fields(packet, &count);
    for (int i = 0; names && i < count; ++i) {
        const char* value = PH_valueOf(packet, names[i]);
        sent.emplace_back(names[i], value ? value : "");
    }
    PH_destroy(packet);

    if (!MaySend()) return;
    out_ += vantiro::EncodeFrame(body);
    Json ev = Base();
    ev["kind"] = kind;
    ev["length"] = body.size();
    ev["fields"] = FieldsObject(sent);
    context_.events.Write("sent", ev);
    if (state() == State::kOpen) WriteOut();
}

void ClientSession::SendNotice(const std::string& command, const std::string& id,
                               const FieldList& fields) {
    FieldList all;
    all.emplace_back("id", id);
    all.emplace_back("command", command);
    if (profile_) all.emplace_back("profile", *profile_);
    for (const auto& field : fields) {
        auto same = std::find_if(all.begin(), all.end(),
                                 [&](const auto& f) { return f.first == field.first; });
        if (same != all.end()) {
            same->second = field.second;
        } else {
            all.push_back(field);
        }
    }
    SendPacket(all, "notice");
}

bool ClientSession::MaySend() {
    if (state() == State::kClosing || state() == State::kClosed) {
        context_.events.Error("client is closing; nothing sent", Base());
        return false;
    }
    if (stalled_) {
        context_.events.Error("client is stalled inside a frame; nothing sent", Base());
        return false;
    }
    return true;
}

void ClientSession::SendStalledFrame(std::size_t announced, std::size_t sent) {
    char prefix[vantiro::kFramePrefixSize + 1];
    std::snprintf(prefix, sizeof prefix, "%08zu\n", announced);
    SendRaw(std::string(prefix, vantiro::kFramePrefixSize) + std::string(sent, 'x'), "stalled frame");
    stalled_ = true;
}

void ClientSession::SendRaw(const std::string& bytes, const std::string& kind) {
    if (!MaySend()) return;
    out_ += bytes;
    Json ev = Base();
    ev["kind"] = kind;
    ev["length"] = bytes.size();
    ev["bytes"] = DescribeBytes(bytes, 200);
    context_.events.Write("sent", ev);
    if (state() == State::kOpen) WriteOut();
}

void ClientSession::WriteOut() {
    while (!out_.empty() && state() != State::kClosed) {
        const int len = write_len_ > 0 ? write_len_
                                        : static_cast<int>(std::min<std::size_t>(out_.size(), kWriteChunk));
        ERR_clear_error();
        errno = 0;
        const int n = SSL_write(ssl_, out_.data(), len);
        if (n > 0) {
            out_.erase(0, static_cast<std::size_t>(n));
            write_len_ = 0;
            want_write_ = false;
            continue;
        }
        const int err = SSL_get_error(ssl_, n);
        if (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ) {
            write_len_ = len;  // a TLS write must be repeated with the same length
            want_write_ = err == SSL_ERROR_WANT_WRITE;
            return;
        }
        Finish("write failed: " + ReadFailure(err));
        return;
    }
}

void ClientSession::CloseGracefully(const std::string& why) {
    if (state() == State::kClosed || state() == State::kClosing) return;
    if (state() == State::kHandshake) {
        Finish(why);
        return;
    }
    state_ = State::kClosing;
    closing_why_ = why;
    closing_deadline_ = Clock::now() + kClosingTime;
    pending_.clear();
    Drain();
}

void ClientSession::Drain() {
    if (!out_.empty()) {
        WriteOut();
        if (state() == State::kClosed) return;
    }
    if (out_.empty() && !shutdown_sent_) {
        ERR_clear_error();
        SSL_shutdown(ssl_);  // sends close_notify; the client's reply is read below
        ERR_clear_error();
        shutdown(fd_, SHUT_WR);
        shutdown_sent_ = true;
    }
    if (shutdown_sent_) {
        // Read until the client closes too, so that unread bytes do not turn the
        // close into a reset that could destroy what the client has not read yet.
        char buffer[kReadChunk];
        for (;;) {
            ERR_clear_error();
            const int n = SSL_read(ssl_, buffer, sizeof buffer);
            if (n > 0) continue;
            const int err = SSL_get_error(ssl_, n);
            if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) break;
            ERR_clear_error();
            Finish(closing_why_);
            return;
        }
    }
    if (Clock::now() >= closing_deadline_) Finish(closing_why_);
}

void ClientSession::Abort(const std::string& why) {
    if (state() == State::kClosed) return;
    // A zero linger time makes close() send a reset instead of a normal close.
    const linger reset{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd_);
    fd_ = -1;
    Finish(why);
}

void ClientSession::Finish(const std::string& why) {
    if (state() == State::kClosed) return;
    state_ = State::kClosed;
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    out_.clear();
    pending_.clear();
    Json ev = Base();
    ev["why"] = why;
    context_.events.Write("closed", ev);
}

}  // namespace muxsim
