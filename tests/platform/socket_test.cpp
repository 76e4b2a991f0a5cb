// Connections opened without waiting, against a listener on 127.0.0.1.
#include "platform/socket.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

namespace velmora::platform {
namespace {

#ifdef _WIN32
using Native = SOCKET;
void CloseNative(Native socket) { ::closesocket(socket); }
#else
using Native = int;
void CloseNative(Native socket) { ::close(socket); }
#endif

// A listener on an ephemeral port of 127.0.0.1 that accepts on demand.
class Listener {
 public:
  Listener() {
#ifdef _WIN32
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
#endif
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_type size = sizeof(address_);
    ready_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&address_), size) == 0 &&
             ::listen(socket_, 4) == 0 &&
             ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address_), &size) == 0;
  }
  ~Listener() { CloseNative(socket_); }

  bool Ready() const { return ready_; }
  const sockaddr_in& Address() const { return address_; }
  Native Accept() { return ::accept(socket_, nullptr, nullptr); }

 private:
#ifdef _WIN32
  using socklen_type = int;
#else
  using socklen_type = socklen_t;
#endif
  Native socket_;
  sockaddr_in address_{};
  bool ready_ = false;
};

// Whether IsReadyToSend reaches `expected` within two seconds.
bool BecomesReady(SocketHandle socket, bool expected) {
  for (int i = 0; i < 100; ++i) {
    if (IsReadyToSend(socket) == expected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(Socket, ConnectsWithoutWaitingAndNoticesAServerThatHungUp) {
  Listener listener;
  ASSERT_TRUE(listener.Ready());
  const SocketHandle socket = OpenSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(socket, kNoSocket);
  ASSERT_TRUE(StartConnecting(socket, &listener.Address(), sizeof(listener.Address())));
  EXPECT_TRUE(BecomesReady(socket, true));
  // What a libcurl that connects a handed-over socket once more meets.
  const bool connectedAgain = ::connect(static_cast<Native>(socket), reinterpret_cast<const sockaddr*>(&listener.Address()),
                                        sizeof(listener.Address())) == 0;
  EXPECT_EQ(connectedAgain, kConnectAgainSucceeds);

  // An idle connection the server closed must not be handed to a transfer.
  CloseNative(listener.Accept());
  EXPECT_TRUE(BecomesReady(socket, false));
  CloseSocket(socket);
}

TEST(Socket, ARefusedConnectionIsNeverReady) {
  sockaddr_in closed{};
  {
    Listener listener;  // its port is free again once it is gone
    ASSERT_TRUE(listener.Ready());
    closed = listener.Address();
  }
  const SocketHandle socket = OpenSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(socket, kNoSocket);
  if (StartConnecting(socket, &closed, sizeof(closed))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(IsReadyToSend(socket));
  }
  CloseSocket(socket);
}

}  // namespace
}  // namespace velmora::platform
