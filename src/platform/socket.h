// Stream sockets that connect without waiting, opened ahead of the transfers that use them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::platform {

// A socket as the system names it (an int on POSIX, a SOCKET on Windows),
// widened so that both fit; kNoSocket is the system's invalid value.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};

// A socket of the family, type and protocol given (the system's own
// numbers), not inherited by programs this process starts; kNoSocket on
// failure.
SocketHandle OpenSocket(int family, int type, int protocol);

// Makes the socket non-blocking and starts connecting it to `address` (a
// sockaddr of `length` bytes) without waiting for the connection. False
// when the attempt failed at once.
bool StartConnecting(SocketHandle socket, const void* address, std::size_t length);

// True when the connection is up, without error, and nothing has arrived on
// it, looked at without waiting: a server that closed a connection before
// any request came shows as something to read.
bool IsReadyToSend(SocketHandle socket);

void CloseSocket(SocketHandle socket);

// Whether connect() once more on a socket whose connection StartConnecting
// began, and which has come up since, reports success (Linux) rather than
// "already connected" (Winsock). Older libcurl connects a socket it is
// handed once more, even when told that it is connected.
extern const bool kConnectAgainSucceeds;

}  // namespace velmora::platform
