// Connections opened ahead of the transfers that will use them, private to the transfer module.
#pragma once

#include <cstddef>

#include "transfer/curl_types.h"

namespace velmora::transfer {

// CURLOPT_OPENSOCKETFUNCTION: hands out a warm connection to exactly the
// address libcurl asks for once it is up, otherwise a new socket; remembers
// the address of every connection libcurl opens itself.
curl_socket_t OpenSocketCallback(void* userData, curlsocktype purpose, curl_sockaddr* address);

// CURLOPT_SOCKOPTFUNCTION: tells libcurl that a socket handed out warm is
// connected already.
int SocketOptionsCallback(void* userData, curl_socket_t socket, curlsocktype purpose);

// Starts `count` connections, without waiting for them, to the address of
// the last connection libcurl opened; nothing when it has opened none.
void WarmConnections(std::size_t count);

// Closes the warm connections no transfer has taken.
void DropWarmConnections();

}  // namespace velmora::transfer
