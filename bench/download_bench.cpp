// Downloads a list of URL paths from one base URL into a folder, one file at a time or as one batch, for timing.
//
//   download_bench [--batch] BASE_URL LIST_FILE OUT_FOLDER
//
// LIST_FILE holds one path below BASE_URL per line, with "/" (urls.txt of the
// benchmark fixtures). OUT_FOLDER is created first, as the updater creates its
// download folder at start-up; each file goes to OUT_FOLDER + the path with
// "\" as the separator, as the updater builds its download targets. Without
// --batch every file is one Download call; with it, the first line (the
// update list) is one Download and the rest one DownloadBatch over the
// default number of connections. The progress report goes to standard output;
// the exit code is the number of failed downloads (capped at 100; a failed
// batch counts 1), so 0 means every download succeeded.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "transfer/session.h"

namespace {

using velmora::transfer::DownloadRequest;
using velmora::transfer::DownloadStatus;

int RunBatch(velmora::transfer::TransferSession& session, const std::string& baseUrl, const std::vector<std::string>& paths, const std::string& outFolder) {
  std::vector<DownloadRequest> requests;
  for (const std::string& path : paths) {
    std::string target = outFolder + path;
    for (char& c : target) {
      if (c == '/') c = '\\';
    }
    DownloadRequest request;
    request.url = baseUrl + path;
    request.path = velmora::platform::Utf8ToWide(target);
    requests.push_back(std::move(request));
  }
  if (requests.empty()) return 0;
  if (session.Download(requests.front()).status != DownloadStatus::kOk) {
    std::fprintf(stderr, "failed: %s\n", paths.front().c_str());
    return 1;
  }
  requests.erase(requests.begin());
  const velmora::transfer::BatchResult result = session.DownloadBatch(requests);
  if (result.ok) return 0;
  std::fprintf(stderr, "failed: %s (status %d)\n", paths[result.failedIndex + 1].c_str(),
               static_cast<int>(result.failed.status));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool batch = argc == 5 && std::strcmp(argv[1], "--batch") == 0;
  if (argc != 4 && !batch) {
    std::fprintf(stderr, "usage: %s [--batch] BASE_URL LIST_FILE OUT_FOLDER\n", argv[0]);
    return 2;
  }
  char** args = argv + (batch ? 2 : 1);
  const std::string baseUrl = args[0];
  std::string outFolder = args[2];
  std::error_code error;
  std::filesystem::create_directories(outFolder, error);
  if (error) {
    std::fprintf(stderr, "cannot create %s\n", outFolder.c_str());
    return 2;
  }
  if (outFolder.back() != '/' && outFolder.back() != '\\') outFolder += '/';

  std::ifstream list(args[1]);
  if (!list) {
    std::fprintf(stderr, "cannot read %s\n", args[1]);
    return 2;
  }
  std::vector<std::string> paths;
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  velmora::transfer::TransferSession session;
  if (batch) return RunBatch(session, baseUrl, paths, outFolder);

  int failures = 0;
  for (const std::string& path : paths) {
    std::string target = path;
    for (char& c : target) {
      if (c == '/') c = '\\';
    }
    DownloadRequest request;
    request.url = baseUrl + path;
    request.path = velmora::platform::Utf8ToWide(outFolder + target);
    if (session.Download(request).status != DownloadStatus::kOk) {
      std::fprintf(stderr, "failed: %s\n", path.c_str());
      ++failures;
    }
  }
  return failures > 100 ? 100 : failures;
}
