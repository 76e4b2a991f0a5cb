// Runs a session's transfers on its multi handle: one download, or a batch several at once.
#include "transfer/session.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_ops.h"
#include "platform/sha256.h"
#include "transfer/downloader_private.h"
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
// Transfers at once over one HTTP/2 connection: many small files then cost
// one round trip per 100 instead of one per connection (servers commonly
// allow 100 to 128 streams; beyond what one allows, libcurl waits or opens
// another connection). The buffers of those started then shrink to this:
// 800 KiB for 100, besides the buffers of the transfers that were running
// already.
constexpr std::size_t kMultiplexedTransfers = 100;
constexpr std::size_t kMinMultiplexedBufferBytes = 4 * 1024;
// A bundle of every public authority takes about a quarter of this.
constexpr std::uint64_t kMaxCaFileBytes = 4 * 1024 * 1024;
// Bounds each wait for network activity; libcurl's own timers (connect
// time-out, stall window, deadline) usually wake it sooner.
constexpr int kPollMilliseconds = 1000;

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

// One call's requests, run on the session's multi handle until each has
// ended or a done function said stop.
class TransferRun {
 public:
  // `multiplexed` is the session's: once a response came over HTTP/2, the
  // next runs start with many transfers at once.
  TransferRun(CURLM* multi, const SessionParts& parts, const DownloadRequest* requests, std::size_t count,
              const DoneFunction& done, bool& multiplexed)
      : multi_(multi), parts_(parts), requests_(requests), count_(count), done_(done), multiplexed_(multiplexed) {
    slots_ = std::max<std::size_t>(1, std::min<std::size_t>(parts.options.connections, count));
    if (multiplexed_) slots_ = std::max(slots_, std::min(kMultiplexedTransfers, count_));
  }

  void Run() {
    for (;;) {
      while (!stop_ && next_ < count_ && running_.size() < slots_) {
        Start(next_);
        ++next_;
      }
      if (stop_ || running_.empty()) break;
      int active = 0;
      if (curl_multi_perform(multi_, &active) != CURLM_OK) {
        for (const auto& entry : running_) {
          if (!done_(entry->index, DownloadOutcome{})) break;
        }
        break;
      }
      for (const auto& entry : running_) NoteConnection(*entry->downloader);
      if (CollectFinished()) continue;
      curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
    }
    // Whatever still runs is ended here: detached, file closed, handle freed.
    running_.clear();
  }

 private:
  std::size_t BufferBytes() const {
    const std::size_t least = multiplexed_ ? kMinMultiplexedBufferBytes : kMinBufferBytes;
    return std::max(least, kBufferBudgetBytes / slots_);
  }

  // Once a response came over HTTP/2, the transfers that follow share its
  // connection: many more of them may run at once.
  void NoteConnection(const Downloader& downloader) {
    if (multiplexed_ || !downloader.Multiplexed()) return;
    multiplexed_ = true;
    slots_ = std::max(slots_, std::min(kMultiplexedTransfers, count_));
  }

  void Start(std::size_t index) {
    auto downloader = std::make_unique<Downloader>(requests_[index], parts_, BufferBytes());
    DownloadOutcome failure;
    if (downloader->Prepare(&failure)) {
      if (curl_multi_add_handle(multi_, downloader->Handle()) == CURLM_OK) {
        running_.push_back(std::make_unique<Running>(multi_, index, std::move(downloader)));
        return;
      }
      failure = DownloadOutcome{};
    }
    if (!done_(index, failure)) stop_ = true;
  }

  // Reports every transfer that libcurl has finished; true when any had.
  bool CollectFinished() {
    bool any = false;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      const auto found = std::find_if(running_.begin(), running_.end(), [message](const auto& entry) {
        return entry->downloader->Handle() == message->easy_handle;
      });
      if (found == running_.end()) continue;
      const CURLcode result = message->data.result;
      const std::unique_ptr<Running> finished = std::move(*found);
      running_.erase(found);
      NoteConnection(*finished->downloader);
      const DownloadOutcome outcome = finished->downloader->Finish(result);
      any = true;
      if (!done_(finished->index, outcome)) stop_ = true;
    }
    return any;
  }

  CURLM* const multi_;
  const SessionParts& parts_;
  const DownloadRequest* const requests_;
  const std::size_t count_;
  const DoneFunction& done_;
  std::size_t slots_ = 1;
  bool& multiplexed_;
  std::vector<std::unique_ptr<Running>> running_;
  std::size_t next_ = 0;
  bool stop_ = false;
};

TransferOptions Normalized(TransferOptions options) {
  if (options.connections == 0) options.connections = 1;
  return options;
}

std::optional<std::string> ReadAuthorities(const std::u16string& caFile) {
  if (caFile.empty()) return std::nullopt;
  std::string pem;
  // Unreadable, it trusts nobody: https fails rather than falling back.
  if (!platform::ReadWholeFile(caFile, kMaxCaFileBytes, &pem)) pem.clear();
  return pem;
}

bool HasHttp2() { return (curl_version_info(CURLVERSION_NOW)->features & CURL_VERSION_HTTP2) != 0; }

CurlMultiHandle StartMulti(const TransferOptions& options, bool http2) {
  CurlMultiHandle multi(curl_multi_init());
  if (!multi) return multi;
  // Idle connections kept for reuse, and connections to one server at once:
  // one per transfer that may run at once over HTTP/1.1.
  const long connections = static_cast<long>(options.connections);
  if (curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, connections) != CURLM_OK ||
      curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, connections) != CURLM_OK ||
      curl_multi_setopt(multi.get(), CURLMOPT_PIPELINING, http2 ? CURLPIPE_MULTIPLEX : CURLPIPE_NOTHING) !=
          CURLM_OK) {
    multi.reset();
  }
  return multi;
}

}  // namespace

struct TransferSession::State {
  explicit State(TransferOptions given)
      : options(Normalized(std::move(given))),
        caPem(ReadAuthorities(options.caFile)),
        http2(HasHttp2()),
        parts{options, pool, http2, caPem ? &*caPem : nullptr},
        multi(StartMulti(options, http2)) {}

  void Run(const DownloadRequest* requests, std::size_t count, const DoneFunction& done) {
    if (count == 0) return;
    if (!multi) {
      done(0, DownloadOutcome{});
      return;
    }
    TransferRun(multi.get(), parts, requests, count, done, multiplexed).Run();
  }

  const TransferOptions options;
  const std::optional<std::string> caPem;
  WarmPool pool;
  const bool http2;
  const SessionParts parts;
  bool multiplexed = false;
  // Last, so it is freed first: its cached connections close while
  // everything the transfers were lent still exists.
  CurlMultiHandle multi;
};

TransferSession::TransferSession(TransferOptions options) {
  // libcurl's global set-up (in its first init; curl_version_info may start
  // it too) starts the TLS library: the lean start comes first.
  platform::PrepareCryptography();
  state_ = std::make_unique<State>(std::move(options));
}

TransferSession::~TransferSession() = default;

bool TransferSession::ok() const { return state_->multi != nullptr; }

const TransferOptions& TransferSession::options() const { return state_->options; }

DownloadOutcome TransferSession::Download(const DownloadRequest& request) {
  DownloadOutcome result;
  state_->Run(&request, 1, [&result](std::size_t, const DownloadOutcome& outcome) {
    result = outcome;
    return true;
  });
  return result;
}

BatchResult TransferSession::DownloadBatch(const std::vector<DownloadRequest>& requests) {
  BatchResult result;
  result.ok = true;
  result.bytes.resize(requests.size());
  result.statuses.assign(requests.size(), DownloadStatus::kFailed);
  result.written.resize(requests.size());
  state_->Run(requests.data(), requests.size(), [&](std::size_t index, const DownloadOutcome& outcome) {
    result.statuses[index] = outcome.status;
    result.written[index] = outcome.written;
    if (outcome.status == DownloadStatus::kOk || outcome.status == DownloadStatus::kNotModified) {
      result.bytes[index] = outcome.bytes;
      return true;
    }
    if (requests[index].mayFail) return true;
    if (result.ok || index < result.failedIndex) {
      result.ok = false;
      result.failedIndex = index;
      result.failed = outcome;
    }
    return false;
  });
  state_->pool.Drop();
  return result;
}

}  // namespace velmora::transfer
