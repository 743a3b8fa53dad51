#include "package/bundle_signature.h"

#include "package/package_stream.h"
#include "platform/crypto.h"

namespace installer {

bool verifyBundleSignature(PackageStream& stream, const TrustKeys& keys) {
  if (!stream.hashing() || stream.currentType != BundleSignature) return false;
  // The head stops at the first part 1 or 26; a later part 26 would vouch
  // for bytes it was not made over.
  if (stream.headLength() != stream.payloadOffset() - PartHeaderSize) return false;
  if (stream.remaining() != bundleSignatureLength) return false;
  uint8_t signature[bundleSignatureLength];
  if (stream.readRaw(signature, bundleSignatureLength) != bundleSignatureLength) return false;
  asn1::blob key{keys.ed25519Key, keys.ed25519Key + 32};
  asn1::blob message{stream.headDigest(), stream.headDigest() + 32};
  asn1::blob ed25519{signature, signature + bundleSignatureLength};
  return eddsa::verify(key, message, ed25519) != 0;
}

}  // namespace installer
