#include "pkgtool_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "file_tree.h"
#include "hash_constants.h"
#include "key_file.h"
#include "legacy_signer.h"
#include "package/package_format.h"
#include "package_builder.h"
#include "package_description.h"
#include "package_inspector.h"
#include "package_signer.h"
#include "signing.h"

namespace installer {

namespace {

const char usageText[] =
    "usage: pkgtool keygen OUT [--hash-constants TRUSTFILE]\n"
    "       pkgtool build -o OUT [-d DESCRIPTION] [--key KEYFILE] [--allow-ed25519-over-sha1] [--SETTING VALUE]...\n"
    "       pkgtool bundle -o OUT [-d DESCRIPTION] [--key KEYFILE [--no-bundle-signature]] [--SETTING VALUE]... "
    "MEMBER...\n"
    "       pkgtool inspect FILE [--trust TRUSTFILE]\n"
    "       pkgtool --version\n";

int usage(std::ostream& err, const std::string& problem) {
  err << "pkgtool: " << problem << "\n" << usageText;
  return 2;
}

int failure(std::ostream& err, const std::string& problem) {
  err << "pkgtool: " << problem << "\n";
  return 1;
}

bool writeFileWithMode(const std::string& path, const std::string& bytes, mode_t mode, std::string& error) {
  std::string temporary = path + ".tmp-pkgtool";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (file.is_open()) file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (file.is_open()) file.flush();
    if (!file.is_open() || !file) {
      error = path + ": cannot write: " + std::strerror(errno);
      std::remove(temporary.c_str());
      return false;
    }
    file.close();
    if (!file) {
      error = path + ": cannot write: " + std::strerror(errno);
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (chmod(temporary.c_str(), mode) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": cannot write: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// The options shared by build and bundle.
struct BuildArguments {
  std::string output;
  std::string description;
  std::string keyFile;
  bool allowEd25519OverSha1 = false;
  bool noBundleSignature = false;
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<std::string> positional;
};

// Returns "" or what is wrong with the arguments.
std::string parseBuildArguments(const std::vector<std::string>& arguments, bool bundle, BuildArguments& parsed) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    bool hasValue = i + 1 < arguments.size();
    if (argument == "--allow-ed25519-over-sha1" && !bundle) {
      parsed.allowEd25519OverSha1 = true;
    } else if (argument == "--no-bundle-signature" && bundle) {
      parsed.noBundleSignature = true;
    } else if (argument.size() > 1 && argument[0] == '-' && !hasValue) {
      return argument + " needs a value";
    } else if (argument == "-o" || argument == "--output") {
      parsed.output = arguments[++i];
    } else if (argument == "-d" || argument == "--description") {
      parsed.description = arguments[++i];
    } else if (argument == "--key") {
      parsed.keyFile = arguments[++i];
    } else if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) {
      parsed.settings.emplace_back(argument.substr(2), arguments[++i]);
    } else if (argument.size() > 1 && argument[0] == '-') {
      return "unknown option " + argument;
    } else {
      parsed.positional.push_back(argument);
    }
  }
  if (parsed.output.empty()) return "no output file (-o OUT)";
  if (!bundle && !parsed.positional.empty()) return "unexpected argument " + parsed.positional[0];
  if (bundle && parsed.positional.empty()) return "no member package files";
  return std::string();
}

// Reads the description file and the settings; `status` is the exit status
// to return when false.
bool readDescription(const BuildArguments& arguments, DescriptionParser& parser, std::ostream& err, int& status) {
  std::string error;
  if (!arguments.description.empty() && !parser.applyFile(arguments.description, error)) {
    status = failure(err, error);
    return false;
  }
  for (const auto& setting : arguments.settings) {
    if (!parser.applyOption(setting.first, setting.second, error)) {
      status = usage(err, error);
      return false;
    }
  }
  if (!parser.finish(error)) {
    status = usage(err, error);
    return false;
  }
  return true;
}

// The key file a build needs for its signature; "" when it has all it needs.
std::string loadSigningKeys(const BuildArguments& arguments, const PackageDescription& description, SigningKeys& keys) {
  SignatureKind kind = description.signature;
  if (kind == SignatureKind::None) return std::string();
  if (arguments.keyFile.empty()) return "signing needs a key file (--key KEYFILE), or --signature none";
  std::string error;
  if (!readKeyFile(arguments.keyFile, keys, error)) return error;
  if (needsEd25519Key(kind) && !keys.hasEd25519) return arguments.keyFile + ": no ed25519-private-key";
  if (needsLegacyKey(kind) && !keys.hasLegacy) return arguments.keyFile + ": no legacy-private-key";
  return std::string();
}

// Creates `path`, which must not exist, with `mode` from the start: a
// private key is never readable by anyone else, not for a moment and
// whatever the umask, and never replaces a file (or follows a link) that
// stands there. A file that could not be written whole is removed.
bool writeNewFile(Env& files, const std::string& path, const std::string& bytes, uint32_t mode, std::string& error) {
  std::unique_ptr<WritableFile> file;
  Status done = files.openWritable(path, WriteMode::CreateNew, mode, file);
  if (!done.isOk()) {
    error = path + ": cannot create: " + done.reason();
    return false;
  }
  done = file->append(bytes.data(), bytes.size());
  if (done.isOk()) done = file->sync();
  Status closed = file->close();
  if (done.isOk()) done = closed;
  if (done.isOk()) return true;
  error = path + ": cannot write: " + done.reason();
  static_cast<void>(files.removeFile(path));
  return false;
}

// Writes the keys of a keygen run; false with `error` set, and neither file
// left behind.
bool writeKeyPair(Env& files, const std::string& base, const SigningKeys& keys, std::string& error) {
  std::string keyPath = base + ".key", trustPath = base + ".trust";
  FileStatus status;
  if (files.linkStatus(keyPath, status).isOk() || files.linkStatus(trustPath, status).isOk()) {
    error = keyPath + " or " + trustPath + " exists already; not overwriting keys";
    return false;
  }
  if (!writeNewFile(files, keyPath, formatKeyFile(keys), 0600, error)) return false;
  if (writeNewFile(files, trustPath, formatTrustFile(keys.trust), 0644, error)) return true;
  static_cast<void>(files.removeFile(keyPath));
  return false;
}

}  // namespace

bool writeOutputFile(const std::string& path, const std::string& bytes, std::string& error) {
  return writeFileWithMode(path, bytes, 0644, error);
}

int keygenCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, Env& files) {
  std::string base, constantsFile;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--hash-constants" && i + 1 < arguments.size()) {
      constantsFile = arguments[++i];
    } else if (arguments[i].empty() || arguments[i][0] == '-' || !base.empty()) {
      return usage(err, "keygen: unexpected argument " + arguments[i]);
    } else {
      base = arguments[i];
    }
  }
  if (base.empty()) return usage(err, "keygen: no output name");
  SigningKeys keys;
  std::string error;
  keys.trust.legacyHash = developmentHashConstants();
  if (!constantsFile.empty()) {
    TrustKeys source;
    if (!readTrustFile(constantsFile, source, error)) return failure(err, error);
    if (!source.hasLegacyKeys) return failure(err, constantsFile + ": no legacy-hash-iv and legacy-hash-k");
    keys.trust.legacyHash = source.legacyHash;
  }
  keys.hasEd25519 =
      signing::randomBytes(keys.ed25519Seed, 32) && signing::ed25519PublicKey(keys.ed25519Seed, keys.trust.ed25519Key);
  keys.hasLegacy = legacyGenerateKey(keys.legacyScalar, keys.trust.legacyKey);
  keys.trust.hasLegacyKeys = keys.hasLegacy;
  if (!keys.hasEd25519 || !keys.hasLegacy) return failure(err, "keygen: could not make keys");
  if (!writeKeyPair(files, base, keys, error)) return failure(err, error);
  out << "wrote " << base << ".key (private, keep it secret) and " << base << ".trust\n";
  return 0;
}

int buildCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  BuildArguments parsed;
  std::string problem = parseBuildArguments(arguments, false, parsed);
  if (!problem.empty()) return usage(err, "build: " + problem);
  DescriptionParser parser(false);
  int status = 0;
  if (!readDescription(parsed, parser, err, status)) return status;
  const PackageDescription& description = parser.description();
  if (description.sha1 && needsEd25519Key(description.signature) && !parsed.allowEd25519OverSha1) {
    return usage(err,
                 "build: an Ed25519 signature over a SHA-1 digest is refused; "
                 "use --digest sha256, or --allow-ed25519-over-sha1 to build it anyway");
  }
  SigningKeys keys;
  problem = loadSigningKeys(parsed, description, keys);
  if (!problem.empty()) return failure(err, problem);
  PackageSigner signer(keys, description.signature);
  FileRecipe file;
  file.magic = description.magic;
  std::string bytes = buildPackage(description.package, signer.callback(), file);
  if (signer.failed()) return failure(err, "build: signing failed");
  std::string error;
  if (!writeOutputFile(parsed.output, bytes, error)) return failure(err, error);
  out << "wrote " << parsed.output << " (" << bytes.size() << " bytes)\n";
  return 0;
}

namespace {

// A member package file as a bundle carries it: its parts from the first
// (a part 25 or its part 1) through its part 9. The file header and any
// parts after part 9 stay behind.
struct BundleMember {
  std::string name;
  std::string bytes;
  size_t headerOffset = 0;  // of its part 1 in `bytes`
  bool sha256 = false;
};

std::string readMember(const std::string& path, BundleMember& member) {
  std::string data, error;
  if (!readWholeFile(Env::posix(), path, data, error)) return error;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data.data());
  if (data.size() < FileHeaderSize ||
      (decodeLE32(bytes) != PackageMagic && decodeLE32(bytes) != UnrecordedPackageMagic)) {
    return path + ": not a package file";
  }
  bool started = false;
  for (size_t offset = FileHeaderSize; offset + PartHeaderSize <= data.size();) {
    uint16_t type = decodeLE16(bytes + offset);
    size_t end = offset + PartHeaderSize + decodeLE32(bytes + offset + 2);
    if (end > data.size()) break;
    if (type == PackageHeader && !started) {
      started = true;
      member.headerOffset = offset - FileHeaderSize;
      size_t nameEnd = offset + PartHeaderSize;
      while (nameEnd < end && nameEnd < offset + PartHeaderSize + NameFieldSize && data[nameEnd] != '\0') ++nameEnd;
      member.name = data.substr(offset + PartHeaderSize, nameEnd - offset - PartHeaderSize);
    } else if (type == DigestSelect && !started) {
      member.sha256 = true;
    } else if (!started) {
      return path + ": not a stand-alone package (part " + std::to_string(type) + " before its header)";
    }
    offset = end;
    if (type == Signature) {
      member.bytes = data.substr(FileHeaderSize, end - FileHeaderSize);
      return std::string();
    }
  }
  return path + ": no complete package with a signature part";
}

// The members in order; a SHA-1 member after a SHA-256 one would be read
// with a SHA-256 digest (the switch holds for the rest of the stream) and
// never verify, so that order is refused.
std::string readMembers(const std::vector<std::string>& paths, std::vector<BundleMember>& members) {
  bool sha256Seen = false;
  for (const std::string& path : paths) {
    BundleMember member;
    std::string problem = readMember(path, member);
    if (!problem.empty()) return problem;
    if (sha256Seen && !member.sha256) {
      return path + ": a SHA-1 member cannot follow a SHA-256 member; put the SHA-1 members first";
    }
    sha256Seen = sha256Seen || member.sha256;
    members.push_back(member);
  }
  return std::string();
}

// The members, the first split by the bundle signature part when `signHead`
// is given: the part stands directly before its part 1. What stood before
// a member's part 1 in its file is written as the one thing a member table
// allows there: an empty part 25 for a SHA-256 member, nothing for a SHA-1
// one.
void addMembers(PackageWriter& writer, const std::vector<BundleMember>& members, const HeadSignatureCallback& signHead,
                size_t& signatureOffset) {
  for (const BundleMember& member : members) {
    if (member.sha256) writer.addPart(DigestSelect, std::string());
    if (signHead && signatureOffset == 0) signatureOffset = addBundleSignaturePlaceholder(writer);
    writer.addRaw(member.bytes.substr(member.headerOffset));
  }
}

std::string bundleBytes(const PackageDescription& description, const std::vector<BundleMember>& members,
                        const HeadSignatureCallback& signHead) {
  const PackageRecipe& spec = description.package;
  PackageWriter writer(description.magic);
  writer.addPart(BundleHeader, encodeHeaderRecord(spec.name, spec.version, spec.buildTime, spec.headerFlags));
  if (spec.architecture) writer.addPart(Architecture, *spec.architecture);
  if (spec.squashfsImage) writer.addPart(SquashfsImage, *spec.squashfsImage);
  if (description.memberList) {
    std::vector<DependencyRef> list = *description.memberList;
    for (const BundleMember& member : members) {
      if (!description.memberListAll) break;
      DependencyRef ref;
      ref.name = member.name;
      list.push_back(ref);
    }
    writer.addPart(BundleMembers, encodeDependencyList(list));
  }
  // The rows are filled in with the signature, once the members are written.
  if (signHead) addMemberTablePlaceholder(writer, members.size());
  size_t signatureOffset = 0;
  addMembers(writer, members, signHead, signatureOffset);
  std::string bytes = writer.bytes();
  if (signatureOffset != 0) fillBundleSignature(bytes, signatureOffset, signHead);
  return bytes;
}

}  // namespace

int bundleCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  BuildArguments parsed;
  std::string problem = parseBuildArguments(arguments, true, parsed);
  if (!problem.empty()) return usage(err, "bundle: " + problem);
  DescriptionParser parser(true);
  int status = 0;
  if (!readDescription(parsed, parser, err, status)) return status;
  std::vector<BundleMember> members;
  problem = readMembers(parsed.positional, members);
  if (!problem.empty()) return failure(err, problem);
  // With a key, the bundle's own parts are signed unless told otherwise.
  SigningKeys keys;
  std::string error;
  if (!parsed.keyFile.empty() && !readKeyFile(parsed.keyFile, keys, error)) return failure(err, error);
  if (!parsed.keyFile.empty() && !keys.hasEd25519) return failure(err, parsed.keyFile + ": no ed25519-private-key");
  PackageSigner signer(keys, SignatureKind::Ed25519);
  bool signing = !parsed.keyFile.empty() && !parsed.noBundleSignature;
  std::string bytes = bundleBytes(parser.description(), members, signing ? signer.headCallback() : nullptr);
  if (signer.failed()) return failure(err, "bundle: signing failed");
  if (!writeOutputFile(parsed.output, bytes, error)) return failure(err, error);
  out << "wrote " << parsed.output << " (" << bytes.size() << " bytes, " << members.size() << " members"
      << (signing ? ", signed" : "") << ")\n";
  return 0;
}

int inspectCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::string path, trustFile;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--trust" && i + 1 < arguments.size()) {
      trustFile = arguments[++i];
    } else if (arguments[i].empty() || arguments[i][0] == '-' || !path.empty()) {
      return usage(err, "inspect: unexpected argument " + arguments[i]);
    } else {
      path = arguments[i];
    }
  }
  if (path.empty()) return usage(err, "inspect: no package file");
  TrustKeys keys = compiledTrustKeys();
  std::string error;
  if (!trustFile.empty() && !readTrustFile(trustFile, keys, error)) return failure(err, error);
  std::string trustName = trustFile.empty() ? std::string(compiledTrustFile()) + " (built in)" : trustFile;
  return inspectPackageFile(path, keys, trustName, out, err);
}

int runPkgtool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.empty()) return usage(err, "no command");
  const std::string& command = arguments[0];
  std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  if (command == "keygen") return keygenCommand(rest, out, err);
  if (command == "build") return buildCommand(rest, out, err);
  if (command == "bundle") return bundleCommand(rest, out, err);
  if (command == "inspect") return inspectCommand(rest, out, err);
  if (command == "--version") {
    out << "pkgtool " << PROJECT_VERSION << "\n";
    return 0;
  }
  if (command == "help" || command == "--help" || command == "-h") {
    out << usageText;
    return 0;
  }
  return usage(err, "unknown command " + command);
}

}  // namespace installer
