// Sockets on Windows, on 127.0.0.1 with ports the system picks: name lookup, a
// connect with data both ways and a read that times out, the peer's close, a refused
// connect with Winsock's code, a connect cancelled before it starts.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "qmos/socket.h"

#include <winsock2.h>

namespace {

const qmos::Ipv4Address kLoopback{0x7F000001};

// A listening socket on 127.0.0.1 (Winsock is started by the first lookup).
struct Listener {
  Listener() {
    qmos::Ipv4Address ignored;
    std::string error;
    qmos::ResolveIPv4("127.0.0.1", ignored, error);
    socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback.value);
    EXPECT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int length = sizeof address;
    EXPECT_EQ(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port = ntohs(address.sin_port);
  }
  ~Listener() { ::closesocket(socket); }
  SOCKET socket = INVALID_SOCKET;
  std::uint16_t port = 0;
};

TEST(WindowsSocketTest, LookupsGiveLoopbackAndRefuseWhatDoesNotExist) {
  qmos::Ipv4Address address;
  std::string error;
  ASSERT_TRUE(qmos::ResolveIPv4("localhost", address, error)) << error;
  EXPECT_EQ(address.value >> 24, 127u);
  EXPECT_FALSE(qmos::ResolveIPv4("", address, error));
  EXPECT_FALSE(error.empty());
}

TEST(WindowsSocketTest, DataTravelsBothWaysAndThePeersCloseEndsTheStream) {
  Listener listener;
  ASSERT_EQ(::listen(listener.socket, 4), 0);
  qmos::Socket client;
  std::string error;
  ASSERT_EQ(client.Connect(kLoopback, listener.port, 2000, nullptr, error), qmos::ConnectStatus::Connected) << error;
  const SOCKET server = ::accept(listener.socket, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);

  EXPECT_EQ(client.WaitReadable(50), qmos::WaitStatus::Timeout);
  ASSERT_EQ(client.Send("ping", 4), 4);
  char buffer[8] = {};
  ASSERT_EQ(::recv(server, buffer, sizeof buffer, 0), 4);
  ASSERT_EQ(::send(server, "pong", 4, 0), 4);
  ASSERT_EQ(client.WaitReadable(2000), qmos::WaitStatus::Ready);
  ASSERT_EQ(client.Receive(buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "pong");

  ::closesocket(server);
  ASSERT_EQ(client.WaitReadable(2000), qmos::WaitStatus::Ready);
  EXPECT_EQ(client.Receive(buffer, sizeof buffer), 0);
}

TEST(WindowsSocketTest, ARefusedConnectCarriesWinsocksCodeAndACancelStopsBeforeIt) {
  std::uint16_t closedPort = 0;
  {
    Listener unused;  // bound, never listening, then closed: nobody accepts there
    closedPort = unused.port;
  }
  qmos::Socket client;
  std::string error;
  int code = 0;
  EXPECT_EQ(client.Connect(kLoopback, closedPort, 5000, nullptr, error, &code), qmos::ConnectStatus::Failed);
  EXPECT_EQ(code, WSAECONNREFUSED) << error;
  EXPECT_FALSE(client.IsOpen());

  EXPECT_EQ(client.Connect(kLoopback, closedPort, 5000, [] { return true; }, error, &code),
            qmos::ConnectStatus::Cancelled);
}

}  // namespace
