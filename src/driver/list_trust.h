// Decides whether a fetched update list comes from the publisher, and keeps its signing time.
#pragma once

#include <cstdint>
#include <string>

#include "driver/outcome.h"
#include "driver/run_values.h"

namespace velmora::transfer {
class TransferSession;
}

namespace velmora::driver {

// What the run may do with a fetched list.
struct ListTrust {
  bool signedList = false;     // false: no update key is configured
  std::uint64_t timestamp = 0;  // the signing time, for a signed list
};

// With no update key (none compiled in, no UpdateKey.pub in the
// installation): not signed, and the run goes on as before signatures. A key
// file that exists but cannot be read ends the run (kUpdateKeyUnreadable):
// only a missing file means "no key". With a key: fetches
// "UpdateList.xml.minisig" beside the list, and the list is signed only when
// the signature verifies over `listBytes`, its signing time is not older than
// the one kept (a kept time that does not read refuses too), and its expiry,
// when it has one, has not passed (kListExpired). Otherwise
// kSignatureRefused. Logs nothing.
Outcome CheckListTrust(transfer::TransferSession& session, const RunValues& values, const std::string& listBytes,
                       ListTrust* trust);

// Keeps the signing time of the list being applied beside the local list.
bool SaveListTimestamp(const RunValues& values, std::uint64_t timestamp);

}  // namespace velmora::driver
