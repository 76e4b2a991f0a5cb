// The status file a run leaves for its host: what happened, in UTF-8 XML.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::manifest {

// What one run tells its host. Texts are UTF-8; empty ones and zero numbers
// are written as empty elements, so that every element is always there.
struct RunStatus {
  std::string outcome;           // a stable identifier: "updated", "up-to-date", ...
  std::string message;           // the fixed log text the run ended with
  std::string installedVersion;  // the application version installed after the run
  std::string remoteVersion;     // the version the remote list offers
  std::string file;              // the list name or path the outcome concerns
  std::string codeKind;          // "http", "transfer", "system" or empty
  long long code = 0;
  std::string started;  // UTC, "YYYY-MM-DDThh:mm:ssZ"
  std::string ended;
  std::uint64_t bytesDownloaded = 0;
  std::uint64_t listTimestamp = 0;  // the signing time of the list, 0 when unsigned
  std::uint64_t fileCount = 0;      // files to fetch, for "update-available"
  std::uint64_t downloadSize = 0;   // their bytes as the list announces them
  // The files fetched as written: more than BytesDownloaded when patches
  // or compressed forms arrived.
  std::uint64_t bytesWritten = 0;
};

// The document: <UpdateStatus> with one element per field, in the order of
// the struct (Outcome, Message, InstalledVersion, RemoteVersion, File, Code
// with its kind as an attribute, Started, Ended, BytesDownloaded,
// ListTimestamp, FileCount, DownloadSize, BytesWritten).
std::string StatusText(const RunStatus& status);

}  // namespace velmora::manifest
