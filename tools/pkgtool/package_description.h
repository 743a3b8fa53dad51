// The description `pkgtool build` and `pkgtool bundle` make a file from: a
// text file of "keyword value" lines ("#" starts a comment), and the same
// settings given as command-line options ("--keyword value"), which are
// applied after the file. The keywords are listed in the README, section
// "pkgtool". Relative paths in a file are taken from the file's directory,
// those in options from the current directory. The files named are read
// through the parser's Env: the build machine's unless told otherwise.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "package_builder.h"
#include "package_signer.h"
#include "platform/env.h"

namespace installer {

struct PackageDescription {
  bool bundle = false;
  PackageRecipe package;  // for a bundle, only the header fields are used
  uint32_t magic = PackageMagic;
  SignatureKind signature = SignatureKind::Ed25519;
  bool sha1 = false;
  // Bundle only: "member-list" names (part 20), and whether every member's
  // name goes into it.
  std::optional<std::vector<DependencyRef>> memberList;
  bool memberListAll = false;
};

class DescriptionParser {
 public:
  explicit DescriptionParser(bool bundle, Env& files = Env::posix());

  // Each returns false with `error` set ("FILE:LINE: ..." or "--keyword: ...").
  [[nodiscard]] bool applyFile(const std::string& path, std::string& error);
  [[nodiscard]] bool applyOption(const std::string& keyword, const std::string& value, std::string& error);
  // Applies per-file modes and variants and checks that the required
  // settings were given.
  [[nodiscard]] bool finish(std::string& error);

  const PackageDescription& description() const { return result; }

 private:
  // Returns an error text, or "" when the setting was applied.
  std::string apply(const std::string& keyword, const std::string& value, const std::string& baseDir);
  std::string applyHeaderSetting(const std::string& keyword, const std::string& value, bool& known);
  std::string applyPackageSetting(const std::string& keyword, const std::string& value, const std::string& baseDir,
                                  bool& known);
  std::string applyFileSetting(const std::string& keyword, const std::string& value, const std::string& baseDir,
                               bool& known);
  std::string applyBundleSetting(const std::string& keyword, const std::string& value, const std::string& baseDir,
                                 bool& known);

  struct FileOverride {
    std::string name;
    bool isMode = false;
    uint32_t value = 0;
  };

  Env& env;
  PackageDescription result;
  std::vector<FileOverride> overrides;
  bool nameSet = false;
  bool versionSet = false;
};

// A name for a header or relation record: 1 to 16 bytes, no zero byte.
bool isRecordName(const std::string& name);
// "NAME [min=V] [max=V] [priority=N]"; returns an error text or "".
std::string parseRelation(const std::string& text, DependencyRef& ref);

}  // namespace installer
