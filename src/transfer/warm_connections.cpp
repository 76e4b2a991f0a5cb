// Opens connections to the server while the update list is still arriving, for the files that follow it.
#include "transfer/warm_connections.h"

#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/socket.h"

namespace velmora::transfer {
namespace {

using Clock = std::chrono::steady_clock;

// A connection left unused for longer may have been given up by the
// server (some give a connection seconds to bring its request); the
// transfer then opens its own rather than risk a dead one.
constexpr auto kWarmLifetime = std::chrono::seconds(5);
// Large enough for every socket address the system knows.
constexpr std::size_t kMaxAddressBytes = 128;
// The first libcurl release known to take a socket it is told is connected
// as it is; older ones connect it once more.
constexpr unsigned kHonoursConnectedSockets = 0x080e01;  // 8.14.1

struct Address {
  int family = 0;
  int type = 0;
  int protocol = 0;
  std::size_t length = 0;
  std::array<unsigned char, kMaxAddressBytes> bytes{};

  bool operator==(const Address& other) const {
    return family == other.family && type == other.type && protocol == other.protocol && length == other.length &&
           std::memcmp(bytes.data(), other.bytes.data(), length) == 0;
  }
};

struct WarmSocket {
  platform::SocketHandle socket = platform::kNoSocket;
  Address address;
  Clock::time_point opened;
};

// Every transfer runs on one thread (see SharedMulti).
struct Pool {
  ~Pool() {
    for (const WarmSocket& warm : idle) platform::CloseSocket(warm.socket);
  }
  std::optional<Address> lastAddress;
  std::vector<WarmSocket> idle;
  // libcurl asks for a socket's options right after it opened the socket:
  // a stale entry is dropped by the next open.
  std::optional<curl_socket_t> handedOut;
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

std::optional<Address> AddressOf(curlsocktype purpose, const curl_sockaddr& given) {
  if (purpose != CURLSOCKTYPE_IPCXN || given.addrlen > kMaxAddressBytes) return std::nullopt;
  Address address;
  address.family = given.family;
  address.type = given.socktype;
  address.protocol = given.protocol;
  address.length = given.addrlen;
  std::memcpy(address.bytes.data(), &given.addr, given.addrlen);
  return address;
}

curl_socket_t ToCurl(platform::SocketHandle socket) {
  return socket == platform::kNoSocket ? CURL_SOCKET_BAD : static_cast<curl_socket_t>(socket);
}

bool HandsOverConnectedSockets() {
  static const bool works = curl_version_info(CURLVERSION_NOW)->version_num >= kHonoursConnectedSockets ||
                            platform::kConnectAgainSucceeds;
  return works;
}

}  // namespace

curl_socket_t OpenSocketCallback(void* /*userData*/, curlsocktype purpose, curl_sockaddr* given) {
  Pool& pool = ThePool();
  pool.handedOut.reset();
  const std::optional<Address> address = AddressOf(purpose, *given);
  if (address) {
    const auto now = Clock::now();
    for (auto warm = pool.idle.begin(); warm != pool.idle.end(); ++warm) {
      if (!(warm->address == *address) || now - warm->opened > kWarmLifetime ||
          !platform::IsReadyToSend(warm->socket)) {
        continue;
      }
      const curl_socket_t socket = ToCurl(warm->socket);
      pool.idle.erase(warm);
      pool.handedOut = socket;
      return socket;
    }
    pool.lastAddress = address;
  }
  return ToCurl(platform::OpenSocket(given->family, given->socktype, given->protocol));
}

int SocketOptionsCallback(void* /*userData*/, curl_socket_t socket, curlsocktype /*purpose*/) {
  std::optional<curl_socket_t>& handedOut = ThePool().handedOut;
  if (handedOut != socket) return CURL_SOCKOPT_OK;
  handedOut.reset();
  return CURL_SOCKOPT_ALREADY_CONNECTED;
}

void WarmConnections(std::size_t count) {
  Pool& pool = ThePool();
  if (!pool.lastAddress || !HandsOverConnectedSockets()) return;
  const Address& address = *pool.lastAddress;
  for (std::size_t i = 0; i < count; ++i) {
    WarmSocket warm{platform::OpenSocket(address.family, address.type, address.protocol), address, Clock::now()};
    if (warm.socket == platform::kNoSocket) return;
    if (!platform::StartConnecting(warm.socket, address.bytes.data(), address.length)) {
      platform::CloseSocket(warm.socket);
      return;
    }
    pool.idle.push_back(warm);
  }
}

void DropWarmConnections() {
  Pool& pool = ThePool();
  for (const WarmSocket& warm : pool.idle) platform::CloseSocket(warm.socket);
  pool.idle.clear();
}

}  // namespace velmora::transfer
