#include "client_session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "frame.h"
#include "simcommon/packet_fields.h"

namespace muxsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 16384;
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

using simcommon::FieldsObject;
using simcommon::TlsResult;
using simcommon::TlsStatus;

}  // namespace

ClientSession::ClientSession(int number, int fd, std::string peer, SSL_CTX* ctx,
                             SessionContext context)
    : number_(number),
      wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      ctx_(ctx),
      context_(context),
      stream_(number, fd, std::move(peer)),
      reader_(context.max_frame) {}

ClientSession::~ClientSession() {
    Join();
    if (wake_fd_ >= 0) close(wake_fd_);
}

void ClientSession::Start() { thread_ = std::thread([this] { Run(); }); }

void ClientSession::Join() {
    if (thread_.joinable()) thread_.join();
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
    if (wake_fd_ < 0) {
        Finish("cannot set up the connection: " + std::string(std::strerror(errno)));
    } else if (auto problem = stream_.Open(ctx_)) {
        Finish(*problem);
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
        if (want_write_ || (stream_.has_output() && !shutdown_sent_)) events |= POLLOUT;
        pollfd fds[2] = {{stream_.fd(), events, 0}, {wake_fd_, POLLIN, 0}};
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
            !stream_.has_output()) {
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
    const TlsResult result = stream_.Accept();
    if (result.status == TlsStatus::kDone) {
        want_write_ = false;
        state_ = State::kOpen;
        context_.events.Write("connected", stream_.Connected());
        return;
    }
    if (result.waits()) {
        want_write_ = result.status == TlsStatus::kWantWrite;
        return;
    }
    Finish("TLS handshake failed: " + Failure(result));
}

std::string ClientSession::Failure(const TlsResult& result) {
    if (result.sys_errno == EPIPE) return "client closed the TCP connection";
    return result.cause;
}

void ClientSession::ReadFromClient() {
    char buffer[kReadChunk];
    while (state() == State::kOpen && !stop_reading_) {
        const TlsResult result = stream_.Read(buffer, sizeof buffer);
        if (result.status == TlsStatus::kDone) {
            OnBytes(buffer, result.bytes);
            continue;
        }
        if (result.status == TlsStatus::kWantRead) return;
        if (result.status == TlsStatus::kWantWrite) {
            want_write_ = true;
            return;
        }
        std::string why = Failure(result);
        if (!reader_.at_frame_boundary()) why += " inside a frame";
        if (result.peer_closed) stream_.AnswerClose();
        Finish(why);
        return;
    }
}

void ClientSession::OnBytes(const char* data, std::size_t size) {
    for (const std::string& text : reader_.Feed(std::string_view(data, size))) {
        HandleFrame(text);
        if (state() != State::kOpen) return;
    }
    if (reader_.failed()) {
        const std::string& head = reader_.head();
        const auto length =
            vantiro::ParseFramePrefix(std::string_view(head).substr(0, vantiro::kFramePrefixSize));
        Json ev = Base();
        ev["bytes"] = DescribeBytes(head);
        context_.events.Error(length ? "frame length " + std::to_string(*length) +
                                           " is above the limit of " +
                                           std::to_string(context_.max_frame) + " bytes"
                                     : "bad frame prefix",
                              ev);
        CloseGracefully("bad frame from the client");
    }
}

void ClientSession::HandleFrame(const std::string& text) {
    const auto read = simcommon::ReadPacket(text);
    if (!read) {
        context_.events.Error("out of memory for a frame", Base());
        return;
    }
    const FieldList& fields = *read;

    const auto command = FieldValue(fields, "command");
    const auto id = FieldValue(fields, "id");
    Json ev = Base();
    ev["length"] = text.size();
    ev["command"] = command ? Json(*command) : Json(nullptr);
    ev["id"] = id ? Json(*id) : Json(nullptr);
    ev["fields"] = FieldsObject(fields, context_.events.ShowsSecrets());
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
    std::string refused;
    const auto packet = simcommon::BuildPacket(fields, refused);
    if (!packet && refused.empty()) {
        context_.events.Error("out of memory for a packet", Base());
        return;
    }
    if (!packet) {
        Json ev = Base();
        ev["field"] = refused;
        context_.events.Error("field refused by the packet library", ev);
        return;
    }
    if (!MaySend()) return;
    stream_.Queue(vantiro::EncodeFrame(packet->text));
    Json ev = Base();
    ev["kind"] = kind;
    ev["length"] = packet->text.size();
    ev["fields"] = FieldsObject(packet->fields, context_.events.ShowsSecrets());
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
    stream_.Queue(bytes);
    Json ev = Base();
    ev["kind"] = kind;
    ev["length"] = bytes.size();
    ev["bytes"] = DescribeBytes(bytes, 200);
    context_.events.Write("sent", ev);
    if (state() == State::kOpen) WriteOut();
}

void ClientSession::WriteOut() {
    if (!stream_.has_output() || state() == State::kClosed) return;
    const TlsResult result = stream_.Flush();
    want_write_ = result.status == TlsStatus::kWantWrite;
    if (result.status == TlsStatus::kFailed) Finish("write failed: " + Failure(result));
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
    if (stream_.has_output()) {
        WriteOut();
        if (state() == State::kClosed) return;
    }
    if (!stream_.has_output() && !shutdown_sent_) {
        stream_.SendClose();
        shutdown_sent_ = true;
    }
    // Read until the client closes too, so that unread bytes do not turn the close
    // into a reset that could destroy what the client has not read yet.
    if (shutdown_sent_ && stream_.Discard() == TlsStatus::kFailed) {
        Finish(closing_why_);
        return;
    }
    if (Clock::now() >= closing_deadline_) Finish(closing_why_);
}

void ClientSession::Abort(const std::string& why) {
    if (state() == State::kClosed) return;
    stream_.Reset();
    Finish(why);
}

void ClientSession::Finish(const std::string& why) {
    if (state() == State::kClosed) return;
    state_ = State::kClosed;
    stream_.Close();
    pending_.clear();
    Json ev = Base();
    ev["why"] = why;
    context_.events.Write("closed", ev);
}

}  // namespace muxsim
