// The object behind one download and its libcurl callbacks, private to the transfer module.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "transfer/curl_types.h"

namespace velmora::transfer {

// The user agent every request carries (108 characters).
extern const char kUserAgent[];

// One download: made empty, configured and run by Download, then destroyed
// (file closed first, then the handle released). Not reusable.
class Downloader {
 public:
  Downloader() = default;
  ~Downloader();
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // The whole download; the result of DownloadFile.
  bool Download(std::string sourceUrl, std::string targetPath);
  // Sets every option on `curl`; false at the first one libcurl rejects, or
  // when `curl` is null or no URL is stored yet.
  bool ApplyOptions(CURL* curl);
  // Writes received data to the open file: the number of whole items written.
  std::size_t Write(const void* data, std::size_t size, std::size_t count);
  // Prints the progress line for the bytes received so far.
  void PrintProgress(double totalBytes, double receivedBytes);

 private:
  friend int ProgressCallback(void* userData, double downloadTotal, double downloaded,
                              double uploadTotal, double uploaded);

  CurlHandle handle;
  FileHandle file;
  std::string url;
  std::string filePath;
  // The stream buffer of `file`; it must outlive the stream.
  std::unique_ptr<char[]> fileBuffer;
};

// CURLOPT_WRITEFUNCTION: hands the data to Write of the Downloader in
// `userData`; 0 (a write error for libcurl) when there is none.
std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* userData);

// CURLOPT_PROGRESSFUNCTION (double form): prints the average speed and the
// progress line. Always 0, so the transfer is never aborted from here.
int ProgressCallback(void* userData, double downloadTotal, double downloaded, double uploadTotal,
                     double uploaded);

}  // namespace velmora::transfer
