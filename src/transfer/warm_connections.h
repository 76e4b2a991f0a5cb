// Connections opened ahead of the transfers that will use them, private to the transfer module.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

#include "platform/socket.h"
#include "transfer/curl_types.h"

namespace velmora::transfer {

// The warm connections of one session and the address they go to. libcurl
// reaches it through the socket callbacks' data pointer; every transfer of
// the session runs on one thread, so it needs no lock.
class WarmPool {
 public:
  WarmPool();
  ~WarmPool();  // closes the connections no transfer has taken
  WarmPool(const WarmPool&) = delete;
  WarmPool& operator=(const WarmPool&) = delete;

  // Starts `count` connections, without waiting for them, to the address of
  // the last connection libcurl opened; nothing when it has opened none.
  void Warm(std::size_t count);
  // Closes the warm connections no transfer has taken.
  void Drop();

  // CURLOPT_OPENSOCKETFUNCTION (data: the pool): hands out a warm connection
  // to exactly the address libcurl asks for once it is up, otherwise a new
  // socket; remembers the address of every connection libcurl opens itself.
  static curl_socket_t OpenSocketCallback(void* pool, curlsocktype purpose, curl_sockaddr* address);
  // CURLOPT_SOCKOPTFUNCTION (data: the pool): tells libcurl that a socket
  // handed out warm is connected already.
  static int SocketOptionsCallback(void* pool, curl_socket_t socket, curlsocktype purpose);

 private:
  using Clock = std::chrono::steady_clock;
  // Large enough for every socket address the system knows.
  static constexpr std::size_t kMaxAddressBytes = 128;

  struct Address {
    int family = 0;
    int type = 0;
    int protocol = 0;
    std::size_t length = 0;
    std::array<unsigned char, kMaxAddressBytes> bytes{};
    bool operator==(const Address& other) const;
  };
  struct WarmSocket {
    platform::SocketHandle socket = platform::kNoSocket;
    Address address;
    Clock::time_point opened;
  };

  static std::optional<Address> AddressOf(curlsocktype purpose, const curl_sockaddr& given);
  curl_socket_t OpenSocket(curlsocktype purpose, const curl_sockaddr& given);
  int SocketOptions(curl_socket_t socket);

  // Whether this libcurl takes a socket it is told is connected as it is.
  const bool handsOverConnectedSockets_;
  std::optional<Address> lastAddress_;
  std::vector<WarmSocket> idle_;
  // libcurl asks for a socket's options right after it opened the socket:
  // a stale entry is dropped by the next open.
  std::optional<curl_socket_t> handedOut_;
};

}  // namespace velmora::transfer
