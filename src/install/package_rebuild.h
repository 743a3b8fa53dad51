// PackageFileContents: the files of a package file made again, for a commit
// whose temporary copies a power cut took.
//
// The package file is read once as the install run reads it, with digests
// on: the records wanted are written out as they pass, and each package they
// came from must verify with its signature part, as it did when installed.
#pragma once

#include "package/trust_keys.h"
#include "staging/package_contents.h"

namespace installer {

class PackageFileContents : public PackageContents {
 public:
  // `keys`: the keys signatures verify against (null: the built-in ones).
  explicit PackageFileContents(const TrustKeys* keys = nullptr) : trust(keys) {}

  [[nodiscard]] bool extract(Env& env, const std::string& path, std::vector<Wanted>& wanted, std::string& why) override;

 private:
  const TrustKeys* trust;
};

}  // namespace installer
