// The TLS connection object on its own, and a supervisor told to stop while its
// connect or handshake hangs. Waits are not scaled here: a stop must cut them short.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tls/tls_connection.h"
#include "supervisor_fixture.h"

namespace connection_test {
namespace {

class TlsConnectionTest : public SupervisorTest {
 protected:
  std::shared_ptr<vantiro::TlsConnection> Open(std::uint16_t port) {
    qmos::Socket socket;
    std::string error;
    qmos::Ipv4Address loopback{0x7F000001};
    EXPECT_EQ(socket.Connect(loopback, port, 5000, {}, error), qmos::ConnectStatus::Connected) << error;
    vantiro::TlsOpenFailure failure;
    auto connection = vantiro::TlsConnection::Open(ctx_, std::move(socket), 5000, {}, failure);
    EXPECT_TRUE(connection) << failure.errorText;
    return connection;
  }
  void TearDown() override {
    SSL_CTX_free(ctx_);
    SupervisorTest::TearDown();
  }
  SSL_CTX* ctx_ = SSL_CTX_new(TLS_client_method());
};

TEST_F(TlsConnectionTest, WritesAndReadsFramesWhileAnotherThreadReads) {
  TestPki pki(dir_, "echo", "Echo CA");
  TlsTestServer server(pki, /*echo=*/true);
  auto connection = Open(server.Port());
  ASSERT_TRUE(connection);
  const std::string frame = "00000012\ncommand:ping\n";
  constexpr int kFrames = 50;
  std::atomic<int> echoed{0};
  std::thread reader([&] {
    std::string buffer(frame.size(), '\0');
    while (echoed < kFrames && connection->ReadExact(buffer.data(), buffer.size(), 10000)) {
      if (buffer == frame) ++echoed;
    }
  });
  for (int i = 0; i < kFrames; ++i) {
    EXPECT_EQ(connection->Write(frame.data(), frame.size(), 5000), static_cast<int>(frame.size()));
  }
  reader.join();
  EXPECT_EQ(echoed, kFrames);
  EXPECT_EQ(connection->Pending(), 0);
}

// Records the TLS layer took from the socket ahead of the one read are waited for in
// the layer, not on the (now empty) socket; once read, the wait is on the socket.
TEST_F(TlsConnectionTest, RecordsReadAheadCountAsReadable) {
  TestPki pki(dir_, "echo", "Echo CA");
  TlsTestServer server(pki, /*echo=*/true);
  auto connection = Open(server.Port());
  ASSERT_TRUE(connection);
  const std::string frame = "00000012\ncommand:ping\n";
  // One echo first, so that what the handshake left (session tickets) is read.
  std::string buffer(frame.size(), '\0');
  ASSERT_EQ(connection->Write(frame.data(), frame.size(), 5000), static_cast<int>(frame.size()));
  ASSERT_TRUE(connection->ReadExact(buffer.data(), buffer.size(), 5000));
  // Three echoes, each its own record (header, text, type byte, 16-byte tag), all on
  // the socket.
  const int record = static_cast<int>(frame.size()) + 22;
  int queued = 0;
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(connection->Write(frame.data(), frame.size(), 5000), static_cast<int>(frame.size()));
    ASSERT_TRUE(WaitUntil([&] { return ::ioctl(connection->Fd(), FIONREAD, &queued) == 0 && queued >= i * record; },
                          5000ms));
  }
  std::size_t got = 0;
  ASSERT_EQ(connection->Read(buffer.data(), buffer.size(), got), vantiro::TlsIo::Done);
  ASSERT_EQ(::ioctl(connection->Fd(), FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 0);
  for (int left = 2; left > 0; --left) {
    EXPECT_GT(connection->Pending(), 0) << left;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connection->WaitReadable(3000), qmos::WaitStatus::Ready) << left;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms) << left;
    ASSERT_TRUE(connection->ReadExact(buffer.data(), buffer.size(), 5000)) << left;
    EXPECT_EQ(buffer, frame);
  }
  EXPECT_EQ(connection->Pending(), 0);
  EXPECT_EQ(connection->WaitReadable(50), qmos::WaitStatus::Timeout);
}

TEST_F(TlsConnectionTest, ShutdownWakesABlockedReaderAndEndsLaterCalls) {
  TestPki pki(dir_, "hold", "Hold CA");
  TlsTestServer server(pki);
  auto connection = Open(server.Port());
  ASSERT_TRUE(connection);
  std::atomic<bool> returned{false};
  bool read = true;
  std::thread reader([&] {
    char byte;
    read = connection->ReadExact(&byte, 1, 30000);
    returned = true;
  });
  EXPECT_FALSE(WaitUntil([&] { return returned.load(); }, 200ms));
  connection->Shutdown();
  ASSERT_TRUE(WaitUntil([&] { return returned.load(); }, 5000ms));
  reader.join();
  EXPECT_FALSE(read);
  EXPECT_LE(connection->Write("x", 1, 1000), 0);
  std::size_t got = 0;
  char byte;
  EXPECT_EQ(connection->Read(&byte, 1, got), vantiro::TlsIo::Closed);
  EXPECT_EQ(connection->WaitReadable(10000), qmos::WaitStatus::Ready);
  EXPECT_TRUE(WaitUntil([&] { return server.PeerClosed() == 1; }));
}

// Contexts with and without a trust file: verification as configured, and never a
// protocol before TLS 1.2 (the supervisor's tests cover the files that cannot be used).
TEST_F(SupervisorTest, ClientContextsRefuseProtocolsBeforeTls12) {
  TestPki pki(dir_, "ctx", "Ctx CA");
  for (const std::string& file : {std::string(), pki.caFile}) {
    const vantiro::tls::ClientContext made = vantiro::tls::MakeClientContext(file, nullptr);
    ASSERT_TRUE(made.ctx) << file;
    EXPECT_EQ(SSL_CTX_get_verify_mode(made.ctx.get()), file.empty() ? SSL_VERIFY_NONE : SSL_VERIFY_PEER);
    EXPECT_EQ(SSL_CTX_get_min_proto_version(made.ctx.get()), TLS1_2_VERSION) << file;
  }
  EXPECT_EQ(vantiro::tls::LibraryInitCount(), 1);
}

// A listener whose accept queue is full: further connects get no answer at all.
// Returns -1 when this system answers them anyway.
int FullListener(std::uint16_t& port, std::vector<int>& fillers) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::listen(fd, 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  for (int i = 0; i < 16; ++i) {
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    fillers.push_back(filler);
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
    pollfd entry{filler, POLLOUT, 0};
    if (::poll(&entry, 1, 300) == 0) return fd;  // this one hangs: the queue is full
  }
  return -1;
}

TEST_F(SupervisorTest, TerminateCutsAHangingHandshakeShort) {
  SilentListener listener;
  AnswerLookups("127.0.0.1", listener.Port());
  Start();
  ASSERT_TRUE(WaitForTrace("PluginThread::ConnectToMultiplexor(): After calling inet_addr(127.0.0.1)"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // now inside the handshake
  const long long took = TerminateLikePlugin();
  EXPECT_GE(took, 0);
  EXPECT_LT(took, 5000);  // far below the 10 s the handshake may take
  EXPECT_TRUE(Traced("SSL connection Error String = the handshake was cancelled"));
  const std::string abort = "reason:abort\n";
  EXPECT_EQ(host_.Count("mc_logged_out", &abort), 1);
}

TEST_F(SupervisorTest, TerminateCutsAHangingConnectShort) {
  std::uint16_t port = 0;
  std::vector<int> fillers;
  const int listener = FullListener(port, fillers);
  if (listener >= 0) {
    AnswerLookups("127.0.0.1", port);
    Start();
    ASSERT_TRUE(WaitForTrace("PluginThread::ConnectToMultiplexor(): After calling inet_addr(127.0.0.1)"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // now inside the connect
    const long long took = TerminateLikePlugin();
    EXPECT_GE(took, 0);
    EXPECT_LT(took, 5000);
    EXPECT_TRUE(Traced("PluginThread::ConnectToMultiplexor(): connect() failed, LastError = "));
    ::close(listener);
  }
  for (int fd : fillers) ::close(fd);
  if (listener < 0) GTEST_SKIP() << "this system answers connects beyond the accept queue";
}

}  // namespace
}  // namespace connection_test
