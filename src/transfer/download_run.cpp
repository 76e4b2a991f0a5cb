// Runs transfers on the process-wide multi handle: one download, a batch, and the narrow wrapper.
#include "transfer/downloader.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/sha256.h"
#include "transfer/downloader_private.h"
#include "transfer/transfer_options.h"
#include "transfer/warm_connections.h"

namespace velmora::transfer {

namespace {

// The receive and file buffers of all running transfers together stay
// within twice this budget, so peak memory does not grow with the number of
// connections; one transfer alone gets the largest buffers, which cut the
// system calls of a large download several times over. 64 KiB reads and
// writes keep a loopback download of 256 MiB as fast as 128 KiB did.
constexpr std::size_t kBufferBudgetBytes = 64 * 1024;
constexpr std::size_t kMinBufferBytes = 8 * 1024;
// Bounds each wait for network activity; libcurl's own timers (connect
// time-out, stall window) usually wake it sooner.
constexpr int kPollMilliseconds = 1000;

std::size_t BufferBytesFor(std::size_t running) {
  return std::max(kMinBufferBytes, kBufferBudgetBytes / std::max<std::size_t>(running, 1));
}

// Called once per request that ends (not for those ended by a stop); false
// means: start nothing more and end the running ones.
using DoneFunction = std::function<bool(std::size_t index, const DownloadOutcome& outcome)>;

// A transfer attached to the multi handle; detached before it is destroyed.
struct Running {
  Running(CURLM* multi, std::size_t index, std::unique_ptr<Downloader> downloader)
      : multi(multi), index(index), downloader(std::move(downloader)) {}
  ~Running() { curl_multi_remove_handle(multi, downloader->Handle()); }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

  CURLM* multi;
  std::size_t index;
  std::unique_ptr<Downloader> downloader;
};

// Starts the next request; false when it could not start (already reported).
bool Start(CURLM* multi, const DownloadRequest& request, std::size_t index, std::size_t bufferBytes,
           std::vector<std::unique_ptr<Running>>& running, const DoneFunction& done, bool* stop) {
  auto downloader = std::make_unique<Downloader>(request, bufferBytes);
  DownloadOutcome failure;
  failure.status = downloader->Prepare();
  if (failure.status == DownloadStatus::kOk) {
    if (curl_multi_add_handle(multi, downloader->Handle()) == CURLM_OK) {
      running.push_back(std::make_unique<Running>(multi, index, std::move(downloader)));
      return true;
    }
    failure.status = DownloadStatus::kFailed;
  }
  if (!done(index, failure)) *stop = true;
  return false;
}

// Reports every transfer that libcurl has finished; true when any had.
bool CollectFinished(CURLM* multi, std::vector<std::unique_ptr<Running>>& running, const DoneFunction& done,
                     bool* stop) {
  bool any = false;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    const auto found = std::find_if(running.begin(), running.end(), [message](const auto& entry) {
      return entry->downloader->Handle() == message->easy_handle;
    });
    if (found == running.end()) continue;
    const CURLcode result = message->data.result;
    const std::unique_ptr<Running> finished = std::move(*found);
    running.erase(found);
    const DownloadOutcome outcome = finished->downloader->Finish(result);
    any = true;
    if (!done(finished->index, outcome)) *stop = true;
  }
  return any;
}

void RunTransfers(const DownloadRequest* requests, std::size_t count, const DoneFunction& done) {
  if (count == 0) return;
  const TransferOptions& options = CurrentTransferOptions();
  const std::size_t slots = std::max<std::size_t>(1, std::min<std::size_t>(options.connections, count));
  const std::size_t bufferBytes = BufferBytesFor(slots);
  CURLM* multi = SharedMulti();
  if (multi == nullptr) {
    done(0, DownloadOutcome{});
    return;
  }
  // Idle connections kept for reuse: one per transfer that may run at once.
  curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(std::max(options.connections, 1u)));

  std::vector<std::unique_ptr<Running>> running;
  std::size_t next = 0;
  bool stop = false;
  for (;;) {
    while (!stop && next < count && running.size() < slots) {
      Start(multi, requests[next], next, bufferBytes, running, done, &stop);
      ++next;
    }
    if (stop || running.empty()) break;
    int active = 0;
    if (curl_multi_perform(multi, &active) != CURLM_OK) {
      for (const auto& entry : running) {
        if (!done(entry->index, DownloadOutcome{})) break;
      }
      break;
    }
    if (CollectFinished(multi, running, done, &stop)) continue;
    curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
  }
  // Whatever still runs is ended here: detached, file closed, handle freed.
  running.clear();
}

}  // namespace

CURLM* SharedMulti() {
  // Released at process exit, after the last easy handle is gone, so its
  // cached connections are closed rather than leaked. libcurl's global
  // set-up happens in the first init and starts the TLS library: the lean
  // start comes first.
  static const CurlMultiHandle multi = [] {
    platform::PrepareCryptography();
    return CurlMultiHandle(curl_multi_init());
  }();
  return multi.get();
}

DownloadOutcome Download(const DownloadRequest& request) {
  DownloadOutcome result;
  RunTransfers(&request, 1, [&result](std::size_t, const DownloadOutcome& outcome) {
    result = outcome;
    return true;
  });
  return result;
}

BatchResult DownloadBatch(const std::vector<DownloadRequest>& requests) {
  BatchResult result;
  result.ok = true;
  result.bytes.resize(requests.size());
  RunTransfers(requests.data(), requests.size(), [&result](std::size_t index, const DownloadOutcome& outcome) {
    if (outcome.status == DownloadStatus::kOk || outcome.status == DownloadStatus::kNotModified) {
      result.bytes[index] = outcome.bytes;
      return true;
    }
    if (result.ok || index < result.failedIndex) {
      result.ok = false;
      result.failedIndex = index;
      result.failed = outcome;
    }
    return false;
  });
  DropWarmConnections();
  return result;
}

bool DownloadFile(std::string url, const std::u16string& path) {
  if (url.empty() || path.empty()) return false;
  // The old file goes from the path as given; the target is the path with
  // doubled backslashes made single.
  platform::RemoveFile(path);
  DownloadRequest request;
  request.url = std::move(url);
  for (char16_t c : path) {
    if (!(c == u'\\' && !request.path.empty() && request.path.back() == u'\\')) request.path.push_back(c);
  }
  return Download(request).status == DownloadStatus::kOk;
}

}  // namespace velmora::transfer
