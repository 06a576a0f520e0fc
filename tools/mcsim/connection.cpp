#include "connection.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include "frame.h"
#include "packet.h"
#include "request_handler.h"
#include "request_names.h"
#include "simcommon/command_parser.h"
#include "simcommon/tls_listener.h"

namespace mcsim {

namespace {

using Clock = std::chrono::steady_clock;

// The longest request text accepted; a request is a few short fields.
constexpr std::size_t kMaxRequest = 1'000'000;
constexpr std::size_t kReadChunk = 16384;
constexpr auto kClosingTime = std::chrono::seconds(1);

Json FieldsObject(const FieldList& fields) {
    Json object = Json::object();
    for (const auto& [name, value] : fields) object[name] = value;
    return object;
}

FieldList ParsePacket(const std::string& text) {
    FieldList fields;
    PACKET packet = PH_create(text.data(), static_cast<int>(text.size()));
    int count = 0;
    const char** names = PH_fields(packet, &count);
    for (int i = 0; names && i < count; ++i) {
        const char* value = PH_valueOf(packet, names[i]);
        fields.emplace_back(names[i], value ? value : "");
    }
    PH_destroy(packet);
    return fields;
}

// The packet text of `fields`; nullopt when the packet library refuses one.
std::optional<std::string> BuildPacket(const FieldList& fields) {
    PACKET packet = PH_create_empty();
    if (!packet) return std::nullopt;
    for (const auto& [name, value] : fields) {
        if (PH_add(packet, name.c_str(), value.c_str()) != 0) {
            PH_destroy(packet);
            return std::nullopt;
        }
    }
    int length = 0;
    const char* text = PH_build_packet_no_id(packet, &length);
    std::optional<std::string> built;
    if (text) built = std::string(text, static_cast<std::size_t>(length));
    PH_destroy(packet);
    return built;
}

Json NullOr(const std::optional<std::string>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

Connection::Connection(int number, int fd, std::string peer, SSL_CTX* ctx,
                       ServerContext context)
    : number_(number), fd_(fd), peer_(std::move(peer)), ctx_(ctx), context_(context) {}

Connection::~Connection() {
    Join();
    if (ssl_) SSL_free(ssl_);
    if (fd_ >= 0) close(fd_);
}

void Connection::Start() { thread_ = std::thread([this] { Run(); }); }

void Connection::Join() {
    if (thread_.joinable()) thread_.join();
}

Json Connection::Base() const {
    Json base = Json::object();
    base["client"] = number_;
    return base;
}

void Connection::Run() {
    const std::string why = Serve();
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    close(fd_);
    fd_ = -1;
    Json ev = Base();
    ev["why"] = why;
    context_.events.Write("closed", ev);
    finished_ = true;
}

std::string Connection::Serve() {
    ERR_clear_error();
    if (fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) != 0) {
        return "cannot set up the connection: " + std::string(std::strerror(errno));
    }
    ssl_ = SSL_new(ctx_);
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) {
        return "cannot set up TLS: " + simcommon::TakeSslError();
    }
    std::string why;
    if (Handshake(why) != Outcome::kDone) return why;

    const auto text = ReadRequest(why);
    if (!text) return why;
    const FieldList request = ParsePacket(*text);
    Json ev = Base();
    ev["command"] = NullOr(FieldValue(request, kCommandField));
    ev["profile"] = NullOr(FieldValue(request, kProfileField));
    ev["fields"] = FieldsObject(WithoutPasswords(request));
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
    const auto answer = BuildPacket(reply.fields);
    if (!answer) {
        context_.events.Error("the packet library refused the answer", Base());
        CloseGracefully();
        return "no answer could be built";
    }
    Json sent = Base();
    sent["result"] = NullOr(FieldValue(reply.fields, kResultField));
    sent["fields"] = FieldsObject(WithoutPasswords(reply.fields));
    context_.events.Write("answer", sent);
    switch (Send(vantiro::EncodeFrame(*answer), why)) {
        case Outcome::kDone: break;
        case Outcome::kFailed: return "write failed: " + why;
        case Outcome::kStopped: return "server quits";
    }
    CloseGracefully();
    return "answered";
}

Connection::Outcome Connection::WaitFor(int err) {
    const short events = err == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
    for (;;) {
        pollfd fds[2] = {{fd_, events, 0}, {context_.stop_fd, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Outcome::kFailed;
        if (fds[1].revents & POLLIN) return Outcome::kStopped;
        if (ready > 0) return Outcome::kDone;
    }
}

std::string Connection::Failure(int err) {
    const int saved_errno = errno;
    switch (err) {
        case SSL_ERROR_ZERO_RETURN:
            return "client closed the TLS connection";
        case SSL_ERROR_SYSCALL:
            ERR_clear_error();
            if (saved_errno == ECONNRESET) return "connection reset by the client";
            if (saved_errno != 0) return std::strerror(saved_errno);
            return "client closed the TCP connection without a TLS close";
        case SSL_ERROR_SSL:
            if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ERR_clear_error();
                return "client closed the TCP connection without a TLS close";
            }
            return simcommon::TakeSslError();
        default:
            ERR_clear_error();
            return "TLS error " + std::to_string(err);
    }
}

Connection::Outcome Connection::Handshake(std::string& why) {
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int ret = SSL_accept(ssl_);
        if (ret == 1) break;
        const int err = SSL_get_error(ssl_, ret);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
            why = "TLS handshake failed: " + Failure(err);
            return Outcome::kFailed;
        }
        if (WaitFor(err) == Outcome::kStopped) {
            why = "server quits";
            return Outcome::kStopped;
        }
    }
    Json ev = Base();
    ev["peer"] = peer_;
    ev["protocol"] = SSL_get_version(ssl_);
    context_.events.Write("connected", ev);
    return Outcome::kDone;
}

std::optional<std::string> Connection::ReadRequest(std::string& why) {
    vantiro::FrameDecoder decoder(kMaxRequest);
    std::string head;  // the first bytes of the stream, to describe a bad prefix
    char buffer[kReadChunk];
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) {
            const std::string_view bytes(buffer, static_cast<std::size_t>(n));
            if (head.size() < 16) head += bytes.substr(0, 16 - head.size());
            decoder.Feed(bytes);
            if (auto text = decoder.Pop()) return text;
            if (decoder.failed()) {
                Json ev = Base();
                ev["bytes"] = simcommon::DescribeBytes(head);
                context_.events.Error("bad frame prefix or a request above " +
                                          std::to_string(kMaxRequest) + " bytes",
                                      ev);
                CloseGracefully();
                why = "bad frame from the client";
                return std::nullopt;
            }
            continue;
        }
        const int err = SSL_get_error(ssl_, n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            if (WaitFor(err) == Outcome::kStopped) {
                CloseGracefully();
                why = "server quits";
                return std::nullopt;
            }
            continue;
        }
        why = Failure(err) + (decoder.at_frame_boundary() ? " before a request"
                                                          : " inside a request");
        return std::nullopt;
    }
}

Connection::Outcome Connection::Send(const std::string& bytes, std::string& why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ERR_clear_error();
        errno = 0;
        // After a "want" the same write is repeated with the same length, as TLS asks.
        const int n = SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int err = SSL_get_error(ssl_, n);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
            why = Failure(err);
            return Outcome::kFailed;
        }
        if (WaitFor(err) == Outcome::kStopped) return Outcome::kStopped;
    }
    return Outcome::kDone;
}

std::string Connection::WaitForClientClose() {
    char buffer[kReadChunk];
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) continue;  // what the client sends now is not read as a request
        const int err = SSL_get_error(ssl_, n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            if (WaitFor(err) == Outcome::kStopped) {
                CloseGracefully();
                return "server quits";
            }
            continue;
        }
        const std::string why = Failure(err);
        if (err == SSL_ERROR_ZERO_RETURN) CloseGracefully();  // answer its close_notify
        return why;
    }
}

void Connection::CloseGracefully() {
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
    shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + kClosingTime;
    char buffer[kReadChunk];
    for (;;) {
        ERR_clear_error();
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) continue;
        const int err = SSL_get_error(ssl_, n);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) break;
        // The stop descriptor does not cut this short: the close is bounded anyway.
        pollfd fd = {fd_, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
    }
    ERR_clear_error();
}

}  // namespace mcsim
