// Decides whether a fetched update list comes from the publisher, and keeps its signing time.
#include "driver/list_trust.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "transfer/session.h"
#include "trust/signature.h"

namespace velmora::driver {
namespace {

constexpr char kSignatureEnding[] = ".minisig";
// A key file or signature file is a few hundred bytes.
constexpr std::uint64_t kMaxSmallFileBytes = 64 * 1024;
// Twenty digits hold every 64-bit value; the kept time is one line of them.
constexpr std::size_t kMaxTimestampDigits = 20;

enum class KeyRead { kNone, kKey, kUnreadable };

// The compiled-in key wins: removing a file must never switch checks off.
// The key file is opened for reading with others allowed to read too; one
// that another process holds open without sharing it cannot be read, and
// refuses the run like any other unreadable key, until a later run.
KeyRead UpdateKey(const RunValues& values, trust::PublicKey* key) {
  if (std::optional<trust::PublicKey> compiled = trust::CompiledInKey()) {
    *key = *compiled;
    return KeyRead::kKey;
  }
  // Only a missing file means "no key": one that is there but cannot be
  // read (no permission, a folder, too large) must never switch checks off.
  if (!platform::GetPathAttributes(values.paths.updateKey, nullptr)) return KeyRead::kNone;
  std::string text;
  if (!platform::ReadWholeFile(values.paths.updateKey, kMaxSmallFileBytes, &text)) return KeyRead::kUnreadable;
  // A key file that is present but does not read as a key refuses every
  // list, rather than quietly running without checks.
  if (!trust::ReadPublicKey(text, key)) *key = trust::PublicKey{};
  return KeyRead::kKey;
}

// The kept signing time: 0 when none was kept yet. False when the file is
// there but does not hold exactly one decimal number within 64 bits (and
// the line end it was written with): a garbled guard must not let an older
// list through.
bool KeptTimestamp(const RunValues& values, std::uint64_t* kept) {
  *kept = 0;
  if (!platform::GetPathAttributes(values.paths.timestamp, nullptr)) return true;
  std::string text;
  if (!platform::ReadWholeFile(values.paths.timestamp, kMaxSmallFileBytes, &text)) return false;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (text.empty() || text.size() > kMaxTimestampDigits) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *kept = value;
  return true;
}

}  // namespace

Outcome CheckListTrust(transfer::TransferSession& session, const RunValues& values, const std::string& listBytes,
                       ListTrust* trust) {
  *trust = ListTrust{};
  trust::PublicKey key;
  switch (UpdateKey(values, &key)) {
    case KeyRead::kNone: return Make(OutcomeKind::kNoUpdateKey);
    case KeyRead::kUnreadable: return Make(OutcomeKind::kUpdateKeyUnreadable);
    case KeyRead::kKey: break;
  }
  transfer::DownloadRequest request;
  request.url = values.listUrl + kSignatureEnding;
  std::string signature;
  request.body = &signature;
  request.maxBytes = kMaxSmallFileBytes;
  const Outcome refused = Make(OutcomeKind::kSignatureRefused);
  if (session.Download(request).status != transfer::DownloadStatus::kOk) return refused;
  trust::SignedComment comment;
  if (trust::CheckSignature(key, listBytes, signature, &comment) != trust::SignatureCheck::kValid) return refused;
  // An older list signed by the same key could bring back files with known
  // faults: the signing time never goes back.
  std::uint64_t kept = 0;
  if (!KeptTimestamp(values, &kept) || comment.timestamp < kept) return refused;
  // A list that says how long it holds is not used after that: a replayed
  // old list cannot keep an installation on an old release for ever.
  const auto now = static_cast<std::uint64_t>(std::max<std::time_t>(std::time(nullptr), 0));
  if (comment.expires && *comment.expires <= now) return Make(OutcomeKind::kListExpired);
  trust->signedList = true;
  trust->timestamp = comment.timestamp;
  return Outcome{};
}

bool SaveListTimestamp(const RunValues& values, std::uint64_t timestamp) {
  return platform::ReplaceFileContent(values.paths.timestamp, layout::TemporaryOf(values.paths.timestamp),
                                      std::to_string(timestamp) + "\n");
}

}  // namespace velmora::driver
