// Fetches one URL into one local file over HTTP, with a progress report on standard output.
#pragma once

#include <string>

namespace velmora::transfer {

// Downloads `url` (UTF-8; backslashes are sent as "/") into `path` (narrow
// ANSI, backslash separators; doubled backslashes count as one). An existing
// file at `path` is deleted first and missing folders are created. True only
// when the transfer completed and the final HTTP status, after at most 5
// redirects, was 200. On failure whatever arrived stays in the file (the body
// of a 404 too); an empty argument gives false without touching anything.
// A connection that takes more than 15 s to open, or a transfer that gets
// less than 1 byte per second for 30 s, fails. Connections to the same server
// are reused from one call to the next. Never logs, never throws.
bool DownloadFile(std::string url, std::string path);

}  // namespace velmora::transfer
