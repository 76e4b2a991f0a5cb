// The process-wide libcurl share object that lets one download reuse the connection of the last.
#pragma once

#include "transfer/curl_types.h"

namespace velmora::transfer {

// The share object (connection cache and DNS cache), made on the first call
// and kept until the process ends; null when libcurl cannot make it, in which
// case every download simply opens its own connection. Single-threaded: it
// sets no lock functions, so all downloads must run on one thread.
CURLSH* SharedConnections();

}  // namespace velmora::transfer
