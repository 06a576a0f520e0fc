// One client connection of mcsim, on its own thread: the TLS handshake, one request
// frame, the reply (an answer, a close, or silence until the client goes), then a
// TLS close. The socket is non-blocking and every wait also watches the server's
// stop descriptor, so that quitting ends every connection at once.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include <openssl/ssl.h>

#include "fault_plan.h"
#include "mailbox_store.h"
#include "simcommon/client_stream.h"
#include "simcommon/event_writer.h"

namespace mcsim {

using simcommon::EventWriter;
using simcommon::Json;

// What every connection shares; outlives them all.
struct ServerContext {
    EventWriter& events;
    MailboxStore& store;
    FaultPlan& faults;
    int stop_fd;  // readable once the server stops
};

class Connection {
public:
    // Takes ownership of the connected socket `fd`.
    Connection(int number, int fd, std::string peer, SSL_CTX* ctx, ServerContext context);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Start();
    void Join();
    bool finished() const { return finished_.load(); }

private:
    // How a wait or a TLS exchange ended.
    enum class Outcome { kDone, kFailed, kStopped };

    void Run();
    // Serves the connection; returns the "why" of the "closed" event.
    std::string Serve();
    Outcome Handshake(std::string& why);
    // Reads one whole request frame; its text, or nullopt with `why` set.
    std::optional<std::string> ReadRequest(std::string& why);
    Outcome Send(const std::string& bytes, std::string& why);
    // Waits ms milliseconds before an answer, or until the server stops.
    Outcome HoldBack(int ms);
    // Waits, without answering, until the client closes or the server stops.
    std::string WaitForClientClose();
    // Sends the TLS close and reads what the client still sends, for at most a second,
    // so that the close does not turn into a reset that would destroy unread data.
    void CloseGracefully();

    // Waits until the socket is ready for what `status` asks, or the server stops.
    Outcome WaitFor(simcommon::TlsStatus status);
    Json Base() const { return stream_.Event(); }

    SSL_CTX* ctx_;
    ServerContext context_;
    simcommon::ClientStream stream_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

}  // namespace mcsim
