// SHA-256 on POSIX with libcrypto's EVP interface.
#include "platform/sha256.h"

#include <openssl/evp.h>


namespace velmora::platform {
namespace {

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

struct Sha256Hasher::State {
  std::unique_ptr<EVP_MD_CTX, ContextFree> context;
  bool failed = false;
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {
  state_->context.reset(EVP_MD_CTX_new());
  state_->failed = state_->context == nullptr ||
                   EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1;
}

Sha256Hasher::~Sha256Hasher() = default;

bool Sha256Hasher::Update(const void* data, std::size_t size) {
  if (state_->failed) return false;
  if (size != 0 && EVP_DigestUpdate(state_->context.get(), data, size) != 1) state_->failed = true;
  return !state_->failed;
}

bool Sha256Hasher::Finish(Sha256Digest* digest) {
  if (state_->failed) return false;
  Sha256Digest result{};
  unsigned int length = 0;
  // A finished context takes no more data; later calls fail.
  state_->failed = true;
  if (EVP_DigestFinal_ex(state_->context.get(), result.data(), &length) != 1 || length != result.size()) {
    return false;
  }
  *digest = result;
  return true;
}

}  // namespace velmora::platform
