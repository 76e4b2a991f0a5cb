// SHA-256 on POSIX with libcrypto's EVP digest interface.
#include "platform/sha256.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace velmora::platform {

namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

}  // namespace

void PrepareCryptography() {
  // Each part of the library's set-up runs once per process: the first call
  // decides, and later requests for the texts and tables are ignored.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                          OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
                      nullptr);
}

struct Sha256Hasher::State {
  DigestContext context;
};

Sha256Hasher::Sha256Hasher() {
  DigestContext context(EVP_MD_CTX_new());
  // EVP_sha256 is the built-in implementation: no provider lookup by name,
  // so no configuration file is read for it.
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return;
  state_ = std::make_unique<State>();
  state_->context = std::move(context);
}

Sha256Hasher::~Sha256Hasher() = default;
Sha256Hasher::Sha256Hasher(Sha256Hasher&& other) noexcept = default;
Sha256Hasher& Sha256Hasher::operator=(Sha256Hasher&& other) noexcept = default;

bool Sha256Hasher::Update(const void* data, std::size_t size) {
  if (!state_) return false;
  if (size == 0) return true;
  if (EVP_DigestUpdate(state_->context.get(), data, size) == 1) return true;
  state_.reset();
  return false;
}

bool Sha256Hasher::Finish(Sha256Digest* digest) {
  if (!state_) return false;
  Sha256Digest value{};
  unsigned int length = 0;
  const bool ok = EVP_DigestFinal_ex(state_->context.get(), value.data(), &length) == 1 &&
                  length == value.size();
  state_.reset();
  if (!ok) return false;
  if (digest != nullptr) *digest = value;
  return true;
}

}  // namespace velmora::platform
