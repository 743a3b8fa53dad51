#include <openssl/evp.h>

#include <cstdlib>

#include "platform/crypto.h"

namespace installer {

struct Digest::Impl {
  const EVP_MD* md = nullptr;
  EVP_MD_CTX* context = nullptr;
};

namespace {

void restart(EVP_MD_CTX* context, const EVP_MD* md) {
  // Without a working digest no package could ever be verified; failing loud
  // beats silently accepting or refusing everything.
  if (EVP_DigestInit_ex(context, md, nullptr) != 1) std::abort();
}

}  // namespace

Digest::Digest(Algorithm algorithm) : impl(new Impl) {
  impl->md = algorithm == Sha1 ? EVP_sha1() : EVP_sha256();
  impl->context = EVP_MD_CTX_new();
  if (impl->context == nullptr) std::abort();
  restart(impl->context, impl->md);
}

Digest::~Digest() { EVP_MD_CTX_free(impl->context); }

void Digest::update(const void* bytes, size_t length) {
  if (length != 0) EVP_DigestUpdate(impl->context, bytes, length);
}

size_t Digest::finish(uint8_t* out) {
  unsigned length = 0;
  EVP_DigestFinal_ex(impl->context, out, &length);
  restart(impl->context, impl->md);
  return length;
}

void Digest::copyFrom(const Digest& other) {
  // A digest that cannot be copied would hash a stretch it was never fed.
  if (impl->md != other.impl->md || EVP_MD_CTX_copy_ex(impl->context, other.impl->context) != 1) std::abort();
}

size_t Digest::size() const { return static_cast<size_t>(EVP_MD_get_size(impl->md)); }

namespace eddsa {

int verify(asn1::blob key, asn1::blob message, asn1::blob signature) {
  if (key.last - key.first != 32 || signature.last - signature.first != 64) return 0;
  EVP_PKEY* publicKey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.first, 32);
  if (publicKey == nullptr) return 0;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  int valid = 0;
  if (context != nullptr && EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, publicKey) == 1) {
    valid = EVP_DigestVerify(context, signature.first, 64, message.first,
                             static_cast<size_t>(message.last - message.first)) == 1;
  }
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(publicKey);
  return valid;
}

}  // namespace eddsa

}  // namespace installer
