// SHA-256 on Windows with the CNG primitives (BCrypt).
#include "platform/sha256.h"

#include "platform/win32/win32.h"

// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <algorithm>
#include <limits>

namespace velmora::platform {

namespace {

struct AlgorithmClose {
  void operator()(BCRYPT_ALG_HANDLE algorithm) const { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroy {
  void operator()(BCRYPT_HASH_HANDLE hash) const { ::BCryptDestroyHash(hash); }
};
using Algorithm = std::unique_ptr<void, AlgorithmClose>;
using Hash = std::unique_ptr<void, HashDestroy>;

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

void PrepareCryptography() {
  // CNG is part of the system and starts on demand.
}

struct Sha256Hasher::State {
  // The hash object lives in memory that CNG allocates itself (a null
  // buffer), and must go before its algorithm provider.
  Algorithm algorithm;
  Hash hash;
};

Sha256Hasher::Sha256Hasher() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
  auto state = std::make_unique<State>();
  state->algorithm.reset(algorithm);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return;
  state->hash.reset(hash);
  state_ = std::move(state);
}

Sha256Hasher::~Sha256Hasher() = default;
Sha256Hasher::Sha256Hasher(Sha256Hasher&& other) noexcept = default;
Sha256Hasher& Sha256Hasher::operator=(Sha256Hasher&& other) noexcept = default;

bool Sha256Hasher::Update(const void* data, std::size_t size) {
  if (!state_) return false;
  // BCryptHashData takes a 32-bit length: larger inputs go in pieces.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
    if (!Succeeded(::BCryptHashData(state_->hash.get(), bytes, piece, 0))) {
      state_.reset();
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

bool Sha256Hasher::Finish(Sha256Digest* digest) {
  if (!state_) return false;
  Sha256Digest value{};
  const bool ok = Succeeded(::BCryptFinishHash(state_->hash.get(), value.data(), static_cast<ULONG>(value.size()), 0));
  state_.reset();
  if (!ok) return false;
  if (digest != nullptr) *digest = value;
  return true;
}

}  // namespace velmora::platform
