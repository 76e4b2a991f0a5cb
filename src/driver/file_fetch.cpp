// Fetches the files a plan names into the download folder, by patch, compressed or whole, and checks each.
#include "driver/file_fetch.h"

#include <algorithm>
#include <memory>

#include "archive/zstd_codec.h"
#include "manifest/safe_name.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/sha256.h"
#include "transfer/session.h"
#include "transfer/url.h"

namespace velmora::driver {
namespace {

// Files at least this large keep what arrived of them when a transfer
// breaks off, for the next run to resume.
constexpr std::uint64_t kResumableSize = std::uint64_t{1} << 20;
constexpr char16_t kValidatorEnding[] = u".validator";
// A validator is one header value.
constexpr std::uint64_t kMaxValidatorBytes = 1024;
// The bases of the patches decoded at once stay within this, besides one
// larger base alone: a release of many large changed files must not hold
// them all in memory together.
constexpr std::uint64_t kPatchBaseBudget = std::uint64_t{256} << 20;

// The ways to a file, cheapest first. A failure of one falls back to the
// next in the same run; only the whole file's failure fails the run.
enum class Source { kPatch, kCompressed, kWhole };

// A compressed body or a patch, decoded as it arrives. A patch's base is
// read only when its body starts, and let go when it ends.
class ZstdBody : public transfer::BodyDecoder {
 public:
  ZstdBody(std::uint64_t maxOutput, std::u16string basePath) : decoder_(maxOutput), basePath_(std::move(basePath)) {}

  bool Feed(const char* data, std::size_t size, const Output& out) override {
    if (!begun_) {
      if (!basePath_.empty() && !platform::ReadWholeFile(basePath_, archive::kMaxPatchInput, &base_)) return false;
      if (!decoder_.Begin(basePath_.empty() ? nullptr : &base_)) return false;
      begun_ = true;
    }
    return decoder_.Feed(data, size, out);
  }

  bool End() override {
    const bool ended = begun_ && decoder_.End();
    base_ = std::string();
    return ended;
  }

 private:
  archive::ZstdDecoder decoder_;
  const std::u16string basePath_;
  std::string base_;
  bool begun_ = false;
};

// One entry on its way: the source tried now, and what that source needs.
struct Fetch {
  const manifest::FileEntry* entry = nullptr;
  Source source = Source::kWhole;
  const manifest::PatchEntry* patch = nullptr;
  std::u16string basePath;
  std::uint64_t baseSize = 0;
  std::unique_ptr<ZstdBody> decoder;
  // A resumable whole file arrives in the partial folder first.
  std::u16string partialPath;
};

std::optional<platform::Sha256Digest> DigestOf(const std::string& hex) {
  platform::Sha256Digest digest{};
  // The list reader accepts only well-formed hashes.
  if (hex.empty() || !platform::ParseSha256Hex(hex, &digest)) return std::nullopt;
  return digest;
}

// The file an entry's patch applies to: the installed file, or for a
// package the zip installed last.
std::u16string BaseOf(const RunValues& values, const manifest::FileEntry& entry) {
  const std::u16string& folder =
      manifest::IsPackageName(entry.name) ? values.paths.packageBaseFolder : values.paths.installFolder;
  return folder + DownloadPathOf(values, entry.name).substr(values.paths.downloadFolder.size());
}

// The patch that applies to what is installed: its base's hash, taken now,
// must be the one the patch was made from.
const manifest::PatchEntry* ChoosePatch(const RunValues& values, const manifest::FileEntry& entry,
                                        std::u16string* basePath, std::uint64_t* baseSize) {
  if (entry.patches.empty() || !entry.hasSize) return nullptr;
  *basePath = BaseOf(values, entry);
  platform::Sha256Digest digest{};
  if (!platform::ReadFileSize(*basePath, baseSize) || !platform::HashFileSha256(*basePath, &digest)) return nullptr;
  for (const manifest::PatchEntry& patch : entry.patches) {
    if (DigestOf(patch.from) == digest) return &patch;
  }
  return nullptr;
}

// Moves `fetch` to its next source; false when it was already the last.
bool FallBack(Fetch& fetch) {
  fetch.decoder.reset();
  if (fetch.source == Source::kPatch && !fetch.entry->zstName.empty()) {
    fetch.source = Source::kCompressed;
    return true;
  }
  if (fetch.source == Source::kWhole) return false;
  fetch.source = Source::kWhole;
  return true;
}

// The name of an entry's partial copy: the hash of its name, size and
// Sha256, so that a list that announces other content for the name leaves
// the copy unclaimed, and it is dropped.
std::u16string PartialNameOf(const manifest::FileEntry& entry) {
  const std::optional<platform::Sha256Digest> announced = DigestOf(entry.sha256);
  const std::string key =
      entry.name + "\n" + std::to_string(entry.size) + "\n" + (announced ? platform::Sha256Hex(*announced) : "");
  platform::Sha256Hasher hasher;
  platform::Sha256Digest digest{};
  if (!hasher.Update(key.data(), key.size()) || !hasher.Finish(&digest)) return std::u16string();
  return platform::Utf8ToWide(platform::Sha256Hex(digest));
}

// The partial copy of a whole file and what resuming it needs. Only a
// validator lets a range continue the same content; without a Sha256 it is
// also all that vouches for the joined file.
void PrepareResume(const RunValues& values, Fetch& fetch, transfer::DownloadRequest* request) {
  const manifest::FileEntry& entry = *fetch.entry;
  if (!entry.hasSize || entry.size < kResumableSize) return;
  const std::u16string name = PartialNameOf(entry);
  if (name.empty()) return;
  fetch.partialPath = values.paths.partialFolder + name;
  request->path = fetch.partialPath;
  request->validatorsPath = fetch.partialPath + kValidatorEnding;
  std::uint64_t held = 0;
  std::string validator;
  if (platform::ReadFileSize(fetch.partialPath, &held) && held > 0 && held < entry.size &&
      platform::ReadWholeFile(request->validatorsPath, kMaxValidatorBytes, &validator) && !validator.empty()) {
    request->resumeFrom = held;
    request->ifRange = validator;
  }
}

transfer::DownloadRequest RequestFor(const RunValues& values, Fetch& fetch) {
  const manifest::FileEntry& entry = *fetch.entry;
  transfer::DownloadRequest request;
  request.path = DownloadPathOf(values, entry.name);
  request.sha256 = DigestOf(entry.sha256);
  std::string remoteName = entry.name;
  if (fetch.source == Source::kWhole) {
    request.maxBytes = entry.hasSize ? entry.size : transfer::kUnannouncedSizeCap;
    request.exactlyEmpty = entry.hasSize && entry.size == 0;
    PrepareResume(values, fetch, &request);
  } else {
    const bool patch = fetch.source == Source::kPatch;
    remoteName = patch ? fetch.patch->name : entry.zstName;
    request.maxBytes = patch ? fetch.patch->size : entry.zstSize;
    request.exactlyEmpty = request.maxBytes == 0;
    request.bodySha256 = DigestOf(patch ? fetch.patch->sha256 : entry.zstSha256);
    fetch.decoder = std::make_unique<ZstdBody>(entry.size, patch ? fetch.basePath : std::u16string());
    request.decoder = fetch.decoder.get();
    request.mayFail = true;
  }
  request.url = transfer::JoinUrl(values.baseUrl, remoteName);
  return request;
}

Outcome FailureOf(const manifest::FileEntry& entry, const transfer::DownloadOutcome& outcome) {
  Outcome failed;
  switch (outcome.status) {
    case transfer::DownloadStatus::kTooLarge:
      failed = Make(OutcomeKind::kSizeMismatch);
      failed.size = entry.size;
      failed.name = entry.name;
      return failed;
    case transfer::DownloadStatus::kHashMismatch: return WithName(OutcomeKind::kHashMismatch, entry.name);
    default: break;
  }
  return WithTransferCode(WithName(OutcomeKind::kDownloadFailed, entry.name), outcome);
}

// Takes the fetches of the next round out of `pending`: all of them, except
// patches beyond the budget of their bases, which wait for a later round.
std::vector<Fetch*> NextRound(std::vector<Fetch*>* pending) {
  std::vector<Fetch*> round, later;
  std::uint64_t bases = 0;
  for (Fetch* fetch : *pending) {
    if (fetch->source == Source::kPatch) {
      if (bases > 0 && bases + fetch->baseSize > kPatchBaseBudget) {
        later.push_back(fetch);
        continue;
      }
      bases += fetch->baseSize;
    }
    round.push_back(fetch);
  }
  *pending = std::move(later);
  return round;
}

}  // namespace

void DropUnclaimedPartials(const RunValues& values, const std::vector<const manifest::FileEntry*>& entries) {
  platform::FolderSearch search;
  if (!search.Start(values.paths.partialFolder + u"*.*")) return;
  do {
    const std::u16string& name = search.Name();
    if (name == u"." || name == u"..") continue;
    const bool claimed = std::any_of(entries.begin(), entries.end(), [&](const manifest::FileEntry* entry) {
      const std::u16string partial = PartialNameOf(*entry);
      return name == partial || name == partial + kValidatorEnding;
    });
    const std::u16string path = values.paths.partialFolder + name;
    if (claimed) continue;
    if (search.IsFolder() && !search.IsLink()) {
      platform::DeleteDirectoryTree(path);
    } else {
      platform::RemoveFile(path);
    }
  } while (search.Next());
}

namespace {

// A whole file that arrived in the partial folder moves to its place in the
// download folder; one that arrived wrong is dropped, to be fetched afresh.
bool SettlePartial(const RunValues& values, const Fetch& fetch) {
  if (fetch.partialPath.empty()) return true;
  platform::RemoveFile(fetch.partialPath + kValidatorEnding);
  const std::u16string target = DownloadPathOf(values, fetch.entry->name);
  platform::CreateDirectoryChain(target);
  return platform::MoveFileReplacing(fetch.partialPath, target);
}

}  // namespace

Outcome WithTransferCode(Outcome failed, const transfer::DownloadOutcome& outcome) {
  if (outcome.httpStatus != 0 && outcome.httpStatus != 200 && outcome.httpStatus != 206) {
    failed.codeKind = CodeKind::kHttp;
    failed.code = outcome.httpStatus;
  } else if (outcome.transferError != 0) {
    failed.codeKind = CodeKind::kTransfer;
    failed.code = outcome.transferError;
  } else if (outcome.osError != 0) {
    failed.codeKind = CodeKind::kSystem;
    failed.code = outcome.osError;
  }
  return failed;
}

std::u16string DownloadPathOf(const RunValues& values, const std::string& name) {
  std::string collapsed = name;
  platform::ReplaceAll(collapsed, "\\\\", "\\");
  return values.paths.downloadFolder + platform::Utf8ToWide(collapsed);
}

Outcome FetchFiles(transfer::TransferSession& session, const RunValues& values,
                   const std::vector<const manifest::FileEntry*>& entries, FetchCounts* counts) {
  std::vector<Fetch> fetches(entries.size());
  std::vector<Fetch*> pending;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Fetch& fetch = fetches[i];
    fetch.entry = entries[i];
    fetch.patch = ChoosePatch(values, *fetch.entry, &fetch.basePath, &fetch.baseSize);
    fetch.source = fetch.patch != nullptr        ? Source::kPatch
                   : !fetch.entry->zstName.empty() ? Source::kCompressed
                                                   : Source::kWhole;
    pending.push_back(&fetch);
  }
  *counts = FetchCounts{};
  // Each round fetches what is still missing by its cheapest way left.
  while (!pending.empty()) {
    const std::vector<Fetch*> round = NextRound(&pending);
    std::vector<transfer::DownloadRequest> requests;
    for (Fetch* fetch : round) requests.push_back(RequestFor(values, *fetch));
    const transfer::BatchResult batch = session.DownloadBatch(requests);
    if (!batch.ok) {
      const Fetch& failed = *round[batch.failedIndex];
      // A copy that arrived whole but wrong cannot be resumed.
      if (batch.failed.status == transfer::DownloadStatus::kHashMismatch && !failed.partialPath.empty()) {
        platform::RemoveFile(failed.partialPath);
        platform::RemoveFile(failed.partialPath + kValidatorEnding);
      }
      return FailureOf(*failed.entry, batch.failed);
    }
    for (std::size_t i = 0; i < round.size(); ++i) {
      Fetch& fetch = *round[i];
      const manifest::FileEntry& entry = *fetch.entry;
      counts->onWire += batch.bytes[i];
      // A body shorter than announced arrives complete as far as HTTP can tell.
      const bool whole = batch.statuses[i] == transfer::DownloadStatus::kOk &&
                         (!entry.hasSize || batch.written[i] == entry.size);
      if (fetch.source != Source::kWhole && !whole) {
        counts->fellBack.push_back(entry.name);
        if (FallBack(fetch)) pending.push_back(&fetch);
        continue;
      }
      if (!whole) {
        Outcome failed = Make(OutcomeKind::kSizeMismatch);
        failed.size = entry.size;
        failed.name = entry.name;
        return failed;
      }
      if (!SettlePartial(values, fetch)) return WithName(OutcomeKind::kDownloadFailed, entry.name);
      counts->written += batch.written[i];
    }
  }
  return Outcome{};
}

}  // namespace velmora::driver
