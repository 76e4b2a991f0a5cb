// Decides whether a downloaded update list comes from the publisher.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/update_list.h"

namespace velmora::transfer {
class TransferSession;
}

namespace velmora::driver {

struct RunValues;

// What the run may do with a downloaded list.
struct ListTrust {
  enum class Verdict { kNoKey, kSigned, kRefused };
  Verdict verdict = Verdict::kRefused;
  std::uint64_t timestamp = 0;  // the signing time, for kSigned
};

// With no update key (none compiled in, no UpdateKey.pub in the installation):
// kNoKey, and the run goes on as before signatures. With a key: fetches
// "UpdateList.xml.minisig" beside the list and gives kSigned only when it
// verifies with the key and its timestamp is not older than the one kept
// beside the local list. Logs nothing.
ListTrust CheckListTrust(const RunValues& values, transfer::TransferSession& session);

// True when every entry of a signed list pins its content with a hash.
bool EveryFileIsPinned(const manifest::FileTable& remote);

// Keeps the signing time of the list being applied beside the local list.
bool SaveListTimestamp(const RunValues& values, std::uint64_t timestamp);

}  // namespace velmora::driver
