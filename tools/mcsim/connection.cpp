#include "connection.h"

#include <cerrno>
#include <chrono>
#include <ctime>

#include <poll.h>

#include "frame.h"
#include "request_handler.h"
#include "request_names.h"
#include "simcommon/command_parser.h"
#include "simcommon/frame_reader.h"
#include "simcommon/packet_fields.h"

namespace mcsim {

namespace {

using Clock = std::chrono::steady_clock;
using simcommon::FieldsObject;
using simcommon::TlsResult;
using simcommon::TlsStatus;

// The longest request text accepted; a request is a few short fields.
constexpr std::size_t kMaxRequest = 1'000'000;
constexpr std::size_t kReadChunk = 16384;
constexpr auto kClosingTime = std::chrono::seconds(1);

Json NullOr(const std::optional<std::string>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

Connection::Connection(int number, int fd, std::string peer, SSL_CTX* ctx,
                       ServerContext context)
    : ctx_(ctx), context_(context), stream_(number, fd, std::move(peer)) {}

Connection::~Connection() { Join(); }

void Connection::Start() { thread_ = std::thread([this] { Run(); }); }

void Connection::Join() {
    if (thread_.joinable()) thread_.join();
}

void Connection::Run() {
    const std::string why = Serve();
    stream_.Close();
    Json ev = Base();
    ev["why"] = why;
    context_.events.Write("closed", ev);
    finished_ = true;
}

std::string Connection::Serve() {
    if (auto problem = stream_.Open(ctx_)) return *problem;
    std::string why;
    if (Handshake(why) != Outcome::kDone) return why;

    const auto text = ReadRequest(why);
    if (!text) return why;
    // Without memory for the packet the request reads as one without fields.
    const FieldList request = simcommon::ReadPacket(*text).value_or(FieldList{});
    Json ev = Base();
    ev["command"] = NullOr(FieldValue(request, kCommandField));
    ev["profile"] = NullOr(FieldValue(request, kProfileField));
    ev["fields"] = FieldsObject(request, context_.events.ShowsSecrets());
    context_.events.Write("request", ev);

    const Reply reply = ReplyTo(request, context_.store, context_.faults, std::time(nullptr));
    if (reply.fault) {
        Json fault = Base();
        fault["fault"] = FaultName(*reply.fault);
        context_.events.Write("fault", fault);
    }
    switch (reply.action) {
        case Reply::Action::kSilent:
            return WaitForClientClose();
        case Reply::Action::kClose:
            CloseGracefully();
            return "closed by fault";
        case Reply::Action::kAnswer:
            break;
    }
    if (reply.delayMs > 0 && HoldBack(reply.delayMs) == Outcome::kStopped) {
        CloseGracefully();
        return "server quits";
    }
    std::string refused;
    const auto answer = simcommon::BuildPacket(reply.fields, refused);
    if (!answer) {
        context_.events.Error("the packet library refused the answer", Base());
        CloseGracefully();
        return "no answer could be built";
    }
    Json sent = Base();
    sent["result"] = NullOr(FieldValue(reply.fields, kResultField));
    sent["fields"] = FieldsObject(reply.fields, context_.events.ShowsSecrets());
    context_.events.Write("answer", sent);
    switch (Send(vantiro::EncodeFrame(answer->text), why)) {
        case Outcome::kDone: break;
        case Outcome::kFailed: return "write failed: " + why;
        case Outcome::kStopped: return "server quits";
    }
    CloseGracefully();
    return "answered";
}

Connection::Outcome Connection::WaitFor(TlsStatus status) {
    const short events = status == TlsStatus::kWantWrite ? POLLOUT : POLLIN;
    for (;;) {
        pollfd fds[2] = {{stream_.fd(), events, 0}, {context_.stop_fd, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Outcome::kFailed;
        if (fds[1].revents & POLLIN) return Outcome::kStopped;
        if (ready > 0) return Outcome::kDone;
    }
}

Connection::Outcome Connection::Handshake(std::string& why) {
    for (;;) {
        const TlsResult result = stream_.Accept();
        if (result.status == TlsStatus::kDone) break;
        if (!result.waits()) {
            why = "TLS handshake failed: " + result.cause;
            return Outcome::kFailed;
        }
        if (WaitFor(result.status) == Outcome::kStopped) {
            why = "server quits";
            return Outcome::kStopped;
        }
    }
    context_.events.Write("connected", stream_.Connected());
    return Outcome::kDone;
}

std::optional<std::string> Connection::ReadRequest(std::string& why) {
    simcommon::FrameReader reader(kMaxRequest);
    char buffer[kReadChunk];
    for (;;) {
        const TlsResult result = stream_.Read(buffer, sizeof buffer);
        if (result.status == TlsStatus::kDone) {
            auto frames = reader.Feed(std::string_view(buffer, result.bytes));
            if (!frames.empty()) return std::move(frames.front());
            if (reader.failed()) {
                Json ev = Base();
                ev["bytes"] = simcommon::DescribeBytes(reader.head());
                context_.events.Error("bad frame prefix or a request above " +
                                          std::to_string(kMaxRequest) + " bytes",
                                      ev);
                CloseGracefully();
                why = "bad frame from the client";
                return std::nullopt;
            }
            continue;
        }
        if (result.waits()) {
            if (WaitFor(result.status) == Outcome::kStopped) {
                CloseGracefully();
                why = "server quits";
                return std::nullopt;
            }
            continue;
        }
        why = result.cause + (reader.at_frame_boundary() ? " before a request"
                                                         : " inside a request");
        return std::nullopt;
    }
}

Connection::Outcome Connection::Send(const std::string& bytes, std::string& why) {
    stream_.Queue(bytes);
    for (;;) {
        const TlsResult result = stream_.Flush();
        if (result.status == TlsStatus::kDone) return Outcome::kDone;
        if (!result.waits()) {
            why = result.cause;
            return Outcome::kFailed;
        }
        if (WaitFor(result.status) == Outcome::kStopped) return Outcome::kStopped;
    }
}

Connection::Outcome Connection::HoldBack(int ms) {
    pollfd stop = {context_.stop_fd, POLLIN, 0};
    return poll(&stop, 1, ms) > 0 ? Outcome::kStopped : Outcome::kDone;
}

std::string Connection::WaitForClientClose() {
    char buffer[kReadChunk];
    for (;;) {
        // What the client sends now is not read as a request.
        const TlsResult result = stream_.Read(buffer, sizeof buffer);
        if (result.status == TlsStatus::kDone) continue;
        if (result.waits()) {
            if (WaitFor(result.status) == Outcome::kStopped) {
                CloseGracefully();
                return "server quits";
            }
            continue;
        }
        if (result.peer_closed) CloseGracefully();  // answer its close_notify
        return result.cause;
    }
}

void Connection::CloseGracefully() {
    stream_.SendClose();
    const auto deadline = Clock::now() + kClosingTime;
    while (stream_.Discard() != TlsStatus::kFailed) {
        // The stop descriptor does not cut this short: the close is bounded anyway.
        pollfd fd = {stream_.fd(), POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
    }
}

}  // namespace mcsim
