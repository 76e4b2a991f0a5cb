// SHA-256 on POSIX with libcrypto's SHA-256 functions.
#include "platform/sha256.h"

// The direct SHA-256 functions are marked deprecated from libcrypto 3.0 on in
// favour of EVP. EVP would start the library's provider machinery (its name
// map and algorithm tables) for this one digest: about 0.5 MiB more peak
// resident memory for an update over plain HTTP. The direct functions run
// the same assembly without it.
#define OPENSSL_API_COMPAT 10101

#include <openssl/crypto.h>
#include <openssl/sha.h>

namespace velmora::platform {

void PrepareCryptography() {
  // Each part of the library's set-up runs once per process: the first call
  // decides, and later requests for the texts are ignored. The digest and
  // cipher tables stay: certificate checks look the signature's digest up
  // in them, and without them every https server was refused.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS, nullptr);
}

struct Sha256Hasher::State {
  SHA256_CTX context;
};

Sha256Hasher::Sha256Hasher() {
  auto state = std::make_unique<State>();
  if (SHA256_Init(&state->context) != 1) return;
  state_ = std::move(state);
}

Sha256Hasher::~Sha256Hasher() = default;
Sha256Hasher::Sha256Hasher(Sha256Hasher&& other) noexcept = default;
Sha256Hasher& Sha256Hasher::operator=(Sha256Hasher&& other) noexcept = default;

bool Sha256Hasher::Update(const void* data, std::size_t size) {
  if (!state_) return false;
  if (size == 0) return true;
  if (SHA256_Update(&state_->context, data, size) == 1) return true;
  state_.reset();
  return false;
}

bool Sha256Hasher::Finish(Sha256Digest* digest) {
  if (!state_) return false;
  Sha256Digest value{};
  static_assert(sizeof(value) == SHA256_DIGEST_LENGTH, "a digest is 32 bytes");
  const bool ok = SHA256_Final(value.data(), &state_->context) == 1;
  state_.reset();
  if (!ok) return false;
  if (digest != nullptr) *digest = value;
  return true;
}

}  // namespace velmora::platform
