// Stream sockets on POSIX.
#include "platform/socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace velmora::platform {

#ifdef __linux__
const bool kConnectAgainSucceeds = true;
#else
const bool kConnectAgainSucceeds = false;  // BSD kernels say EISCONN
#endif

namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

}  // namespace

SocketHandle OpenSocket(int family, int type, int protocol) {
  const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd);
}

bool StartConnecting(SocketHandle socket, const void* address, std::size_t length) {
  const int flags = ::fcntl(Fd(socket), F_GETFL);
  if (flags < 0 || ::fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK) != 0) return false;
  if (::connect(Fd(socket), static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) == 0) {
    return true;
  }
  return errno == EINPROGRESS || errno == EINTR;
}

bool IsReadyToSend(SocketHandle socket) {
  pollfd entry{Fd(socket), POLLOUT | POLLIN, 0};
  if (::poll(&entry, 1, 0) != 1 || entry.revents != POLLOUT) return false;
  int error = 0;
  socklen_t size = sizeof(error);
  return ::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

void CloseSocket(SocketHandle socket) {
  if (socket != kNoSocket) ::close(Fd(socket));
}

}  // namespace velmora::platform
