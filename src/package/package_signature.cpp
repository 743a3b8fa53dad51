#include "package/package_signature.h"

#include "package/package_stream.h"
#include "platform/device_paths.h"

namespace installer {

namespace {

// Release windows in which packages were signed with the legacy scheme only.
constexpr PackageVersion lastLegacyOf646 = 0x062E6608;  // 6.46.8
constexpr PackageVersion firstOf647 = 0x062F0000;       // 6.47, older numbering
constexpr PackageVersion lastLegacyOf648 = 0x06306600;  // 6.48
constexpr PackageVersion firstOf70 = 0x07000000;        // 7.0, older numbering
constexpr PackageVersion lastLegacyOf71 = 0x07016203;   // 7.1beta3

}  // namespace

bool legacyAllowed(Env& env, const PackageInfo& package) {
  if (env.exists(paths::secureMarker)) return false;
  if (package.name == "branding") return true;
  PackageVersion version = package.version;
  if (version <= lastLegacyOf646) return true;
  if (version < firstOf647) return false;
  if (version <= lastLegacyOf648) return true;
  return version >= firstOf70 && version <= lastLegacyOf71;
}

bool verifyPackageSignature(Env& env, PackageStream& stream, const PackageInfo& package) {
  return verifyPackageSignature(env, stream, package, compiledTrustKeys());
}

bool verifyPackageSignature(Env& env, PackageStream& stream, const PackageInfo& package, const TrustKeys& keys,
                            SignatureCheck* details) {
  bool allowed = legacyAllowed(env, package);
  // Another part's payload is never taken for a signature.
  if (!stream.hashing() || stream.currentType != Signature) return false;
  stream.finishDigest();
  size_t length = signatureLength(stream.remaining());
  if (length == 0) return false;
  // Bytes beyond the signature stay unread; nextPart() passes over them.
  uint8_t signature[fullSignatureLength];
  if (stream.readRaw(signature, length) != length) return false;
  SignatureCheck check = checkSignature(signature, length, stream.digestResult(), allowed, keys, details != nullptr);
  if (details != nullptr) *details = check;
  return check.accepted();
}

}  // namespace installer
