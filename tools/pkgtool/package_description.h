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

#include "base/status.h"
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

  // A failure names where it was met: "FILE:LINE" or "--keyword" (or the
  // file that could not be read).
  Status applyFile(const std::string& path);
  Status applyOption(const std::string& keyword, const std::string& value);
  // Applies per-file modes and variants and checks that the required
  // settings were given.
  Status finish();

  const PackageDescription& description() const { return result; }

 private:
  // What is wrong with a setting has no subject unless a file it names is
  // at fault; `known` says whether the keyword is one of the group's.
  Status apply(const std::string& keyword, const std::string& value, const std::string& baseDir);
  Status applyHeaderSetting(const std::string& keyword, const std::string& value, bool& known);
  Status applyPackageSetting(const std::string& keyword, const std::string& value, const std::string& baseDir,
                             bool& known);
  Status applyFileSetting(const std::string& keyword, const std::string& value, const std::string& baseDir,
                          bool& known);
  Status applyBundleSetting(const std::string& keyword, const std::string& value, const std::string& baseDir,
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
// "NAME [min=V] [max=V] [priority=N]"; what is wrong has no subject.
Status parseRelation(const std::string& text, DependencyRef& ref);

}  // namespace installer
