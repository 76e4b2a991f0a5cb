// Stream sockets on Windows (Winsock, started by libcurl's global set-up).
#include <winsock2.h>

#include "platform/socket.h"

namespace velmora::platform {

const bool kConnectAgainSucceeds = false;  // WSAEISCONN

namespace {

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

}  // namespace

SocketHandle OpenSocket(int family, int type, int protocol) {
  // Overlapped, as socket() makes them, and not inherited by started programs.
  const SOCKET socket =
      ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket);
}

bool StartConnecting(SocketHandle socket, const void* address, std::size_t length) {
  u_long nonBlocking = 1;
  if (::ioctlsocket(Native(socket), FIONBIO, &nonBlocking) != 0) return false;
  if (::connect(Native(socket), static_cast<const sockaddr*>(address), static_cast<int>(length)) == 0) return true;
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

bool IsReadyToSend(SocketHandle socket) {
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Native(socket), &readable);
  FD_SET(Native(socket), &writable);
  FD_SET(Native(socket), &failed);
  timeval now{0, 0};
  // Ready only as writable: readable means the server closed it (or spoke
  // first), failed means the connection attempt did.
  if (::select(0, &readable, &writable, &failed, &now) != 1 || !FD_ISSET(Native(socket), &writable)) return false;
  int error = 0;
  int size = sizeof(error);
  return ::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
         error == 0;
}

void CloseSocket(SocketHandle socket) {
  if (socket != kNoSocket) ::closesocket(Native(socket));
}

}  // namespace velmora::platform
