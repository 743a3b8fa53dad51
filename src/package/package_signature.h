// Verification of a package's signature part (part 9) against the digest
// that the PackageStream computed while the package was read.
//
// Two schemes: Ed25519 over the package's digest, and the legacy scheme,
// accepted only for old release windows and the "branding" package, and never
// while "/ram/SECURE" exists. A 132-byte signature carries both (legacy
// first); a 68-byte one only the legacy signature.
#pragma once

#include "model/package_info.h"
#include "package/signature_check.h"
#include "package/trust_keys.h"
#include "platform/env.h"

namespace installer {

class PackageStream;

// Whether a legacy signature may be accepted for `package` now.
bool legacyAllowed(Env& env, const PackageInfo& package);

// REQUIRES: the stream is at part 9, nothing of its payload read yet.
// True when the package is genuine; the stream stays at part 9 and the caller
// moves on with nextPart(). False for a wrong or short signature, a legacy
// signature outside its windows, a stream without digests, or a stream
// that is not at a part 9.
[[nodiscard]] bool verifyPackageSignature(Env& env, PackageStream& stream, const PackageInfo& package);

// The same against other keys. When `details` is given, both signatures are
// checked and what was found is left there.
[[nodiscard]] bool verifyPackageSignature(Env& env, PackageStream& stream, const PackageInfo& package,
                                          const TrustKeys& keys, SignatureCheck* details = nullptr);

}  // namespace installer
