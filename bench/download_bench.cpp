// Downloads a list of URL paths from one base URL into a folder with DownloadFile, for timing.
//
//   download_bench BASE_URL LIST_FILE OUT_FOLDER
//
// LIST_FILE holds one path below BASE_URL per line, with "/" (urls.txt of the
// benchmark fixtures). OUT_FOLDER is created first, as the updater creates its
// download folder at start-up; each file goes to OUT_FOLDER + the path with
// "\" as the separator, as the updater builds its download targets. The progress report
// goes to standard output; the exit code is the number of failed downloads
// (capped at 100), so 0 means every download returned true.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "transfer/downloader.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s BASE_URL LIST_FILE OUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string baseUrl = argv[1];
  std::string outFolder = argv[3];
  std::error_code error;
  std::filesystem::create_directories(outFolder, error);
  if (error) {
    std::fprintf(stderr, "cannot create %s\n", outFolder.c_str());
    return 2;
  }
  if (outFolder.back() != '/' && outFolder.back() != '\\') outFolder += '/';

  std::ifstream list(argv[2]);
  if (!list) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 2;
  }
  int failures = 0;
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string target = line;
    for (char& c : target) {
      if (c == '/') c = '\\';
    }
    if (!velmora::transfer::DownloadFile(baseUrl + line, outFolder + target)) {
      std::fprintf(stderr, "failed: %s\n", line.c_str());
      ++failures;
    }
  }
  return failures > 100 ? 100 : failures;
}
