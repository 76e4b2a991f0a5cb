// The routes every downloader test may use, registered on a TestServer, and small file helpers.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "transfer/test_server.h"

namespace velmora::transfer::testing {

// What "/validated" sends as its validators.
inline constexpr char kEtag[] = "\"v1-abc\"";
inline constexpr char kLastModified[] = "Wed, 09 Dec 2026 08:00:00 GMT";

std::string ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::string& content);
// The client ports of the connections to `port` on this machine that are up,
// as the server's side of each shows in the kernel's table.
std::set<int> EstablishedClientPorts(int port);

// /hello.bin, /empty, /missing (404), /r/<n> (n redirects), /to-file,
// /dir/sub/file.bin, /big (256 KiB), /chunked (3000 bytes, no length),
// /drop, /stall (until released), /trickle (500 B/s), /f/<n>, /validated (ETag, Last-Modified,
// 304 when either matches). Call before Start().
void AddRoutes(TestServer& server);

}  // namespace velmora::transfer::testing
