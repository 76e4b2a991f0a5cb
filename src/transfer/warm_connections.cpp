// Opens connections to the server while the update list is still arriving, for the files that follow it.
#include "transfer/warm_connections.h"

#include <cstring>

namespace velmora::transfer {
namespace {

// A connection left unused for longer may have been given up by the
// server (some give a connection seconds to bring its request); the
// transfer then opens its own rather than risk a dead one.
constexpr auto kWarmLifetime = std::chrono::seconds(5);
// The first libcurl release known to take a socket it is told is connected
// as it is; older ones connect it once more.
constexpr unsigned kHonoursConnectedSockets = 0x080e01;  // 8.14.1

curl_socket_t ToCurl(platform::SocketHandle socket) {
  return socket == platform::kNoSocket ? CURL_SOCKET_BAD : static_cast<curl_socket_t>(socket);
}

}  // namespace

bool WarmPool::Address::operator==(const Address& other) const {
  return family == other.family && type == other.type && protocol == other.protocol && length == other.length &&
         std::memcmp(bytes.data(), other.bytes.data(), length) == 0;
}

WarmPool::WarmPool()
    : handsOverConnectedSockets_(curl_version_info(CURLVERSION_NOW)->version_num >= kHonoursConnectedSockets ||
                                 platform::kConnectAgainSucceeds) {}

WarmPool::~WarmPool() { Drop(); }

std::optional<WarmPool::Address> WarmPool::AddressOf(curlsocktype purpose, const curl_sockaddr& given) {
  if (purpose != CURLSOCKTYPE_IPCXN || given.addrlen > kMaxAddressBytes) return std::nullopt;
  Address address;
  address.family = given.family;
  address.type = given.socktype;
  address.protocol = given.protocol;
  address.length = given.addrlen;
  std::memcpy(address.bytes.data(), &given.addr, given.addrlen);
  return address;
}

curl_socket_t WarmPool::OpenSocket(curlsocktype purpose, const curl_sockaddr& given) {
  handedOut_.reset();
  const std::optional<Address> address = AddressOf(purpose, given);
  if (address) {
    const auto now = Clock::now();
    for (auto warm = idle_.begin(); warm != idle_.end(); ++warm) {
      if (!(warm->address == *address) || now - warm->opened > kWarmLifetime ||
          !platform::IsReadyToSend(warm->socket)) {
        continue;
      }
      const curl_socket_t socket = ToCurl(warm->socket);
      idle_.erase(warm);
      handedOut_ = socket;
      return socket;
    }
    lastAddress_ = address;
  }
  return ToCurl(platform::OpenSocket(given.family, given.socktype, given.protocol));
}

int WarmPool::SocketOptions(curl_socket_t socket) {
  if (handedOut_ != socket) return CURL_SOCKOPT_OK;
  handedOut_.reset();
  return CURL_SOCKOPT_ALREADY_CONNECTED;
}

curl_socket_t WarmPool::OpenSocketCallback(void* pool, curlsocktype purpose, curl_sockaddr* address) {
  if (pool == nullptr) return CURL_SOCKET_BAD;
  return static_cast<WarmPool*>(pool)->OpenSocket(purpose, *address);
}

int WarmPool::SocketOptionsCallback(void* pool, curl_socket_t socket, curlsocktype /*purpose*/) {
  if (pool == nullptr) return CURL_SOCKOPT_OK;
  return static_cast<WarmPool*>(pool)->SocketOptions(socket);
}

void WarmPool::Warm(std::size_t count) {
  if (!lastAddress_ || !handsOverConnectedSockets_) return;
  const Address address = *lastAddress_;
  for (std::size_t i = 0; i < count; ++i) {
    WarmSocket warm{platform::OpenSocket(address.family, address.type, address.protocol), address, Clock::now()};
    if (warm.socket == platform::kNoSocket) return;
    if (!platform::StartConnecting(warm.socket, address.bytes.data(), address.length)) {
      platform::CloseSocket(warm.socket);
      return;
    }
    // Without room to keep it, the socket would leak: it is closed instead.
    try {
      idle_.push_back(warm);
    } catch (...) {
      platform::CloseSocket(warm.socket);
      return;
    }
  }
}

void WarmPool::Drop() {
  for (const WarmSocket& warm : idle_) platform::CloseSocket(warm.socket);
  idle_.clear();
}

}  // namespace velmora::transfer
