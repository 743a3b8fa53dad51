#include "package/bundle_signature.h"

#include <vector>

#include "package/package_stream.h"
#include "platform/crypto.h"

namespace installer {

namespace {

bool plausibleLength(uint32_t length) {
  return length == bundleSignatureLength ||
         (length >= bundleSignatureLength + memberTableCountSize && length <= maxBundleSignaturePartLength);
}

}  // namespace

std::string bundleSignedMessage(const uint8_t headDigest[32], const uint8_t* table, size_t tableLength) {
  std::string message(reinterpret_cast<const char*>(headDigest), 32);
  message.append(reinterpret_cast<const char*>(table), tableLength);
  return message;
}

bool verifyBundleSignature(PackageStream& stream, const TrustKeys& keys, MemberTable& table) {
  table = MemberTable();
  if (!stream.hashing() || stream.currentType != BundleSignature) return false;
  // The head stops at the first part 1 or 26; a later part 26 would vouch
  // for bytes it was not made over.
  if (stream.headLength() != stream.payloadOffset() - PartHeaderSize) return false;
  uint32_t length = stream.remaining();
  if (!plausibleLength(length)) return false;
  std::vector<uint8_t> payload(length);
  if (stream.readRaw(payload.data(), length) != length) return false;
  const uint8_t* tableBytes = payload.data() + bundleSignatureLength;
  size_t tableLength = length - bundleSignatureLength;
  if (tableLength != 0) {
    if (!decodeMemberTable(tableBytes, tableLength, table.rows)) return false;
    table.present = true;
    stream.memberSpans().start();
  }
  std::string message = bundleSignedMessage(stream.headDigest(), tableBytes, tableLength);
  const uint8_t* messageBytes = reinterpret_cast<const uint8_t*>(message.data());
  asn1::blob key{keys.ed25519Key, keys.ed25519Key + 32};
  asn1::blob ed25519{payload.data(), payload.data() + bundleSignatureLength};
  return eddsa::verify(key, {messageBytes, messageBytes + message.size()}, ed25519) != 0;
}

}  // namespace installer
