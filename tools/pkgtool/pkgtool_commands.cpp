#include "pkgtool_commands.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "file_tree.h"
#include "hash_constants.h"
#include "key_file.h"
#include "legacy_signer.h"
#include "package/package_format.h"
#include "package_builder.h"
#include "package_description.h"
#include "package_inspector.h"
#include "package_signer.h"
#include "part_list.h"
#include "signing.h"
#include "staging/file_replacement.h"
#include "tool_errors.h"

namespace installer {

const char pkgtoolUsage[] =
    "usage: pkgtool keygen OUT [--hash-constants TRUSTFILE]\n"
    "       pkgtool build -o OUT [-d DESCRIPTION] [--key KEYFILE] [--allow-ed25519-over-sha1] [--SETTING VALUE]...\n"
    "       pkgtool bundle -o OUT [-d DESCRIPTION] [--key KEYFILE [--no-bundle-signature]] [--SETTING VALUE]... "
    "MEMBER...\n"
    "       pkgtool inspect FILE [--trust TRUSTFILE]\n"
    "       pkgtool --version\n";

namespace {

int usage(std::ostream& err, const std::string& problem) {
  err << "pkgtool: " << problem << "\n" << pkgtoolUsage;
  return 2;
}

int failure(std::ostream& err, const std::string& problem) {
  err << "pkgtool: " << problem << "\n";
  return 1;
}

int failure(std::ostream& err, const Status& status) { return failure(err, status.toString()); }

// The arguments of keygen and inspect: one name, and `option` with a value;
// what is wrong with them has no subject.
Status parseNameAndOption(const std::vector<std::string>& arguments, const std::string& option, std::string& name,
                          std::string& value) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == option && i + 1 < arguments.size()) {
      value = arguments[++i];
    } else if (arguments[i].empty() || arguments[i][0] == '-' || !name.empty()) {
      return Status::refused("", "unexpected argument " + arguments[i]);
    } else {
      name = arguments[i];
    }
  }
  return Status::ok();
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

// What is wrong with the arguments has no subject.
Status parseBuildArguments(const std::vector<std::string>& arguments, bool bundle, BuildArguments& parsed) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    bool hasValue = i + 1 < arguments.size();
    if (argument == "--allow-ed25519-over-sha1" && !bundle) {
      parsed.allowEd25519OverSha1 = true;
    } else if (argument == "--no-bundle-signature" && bundle) {
      parsed.noBundleSignature = true;
    } else if (argument.size() > 1 && argument[0] == '-' && !hasValue) {
      return Status::refused("", argument + " needs a value");
    } else if (argument == "-o" || argument == "--output") {
      parsed.output = arguments[++i];
    } else if (argument == "-d" || argument == "--description") {
      parsed.description = arguments[++i];
    } else if (argument == "--key") {
      parsed.keyFile = arguments[++i];
    } else if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) {
      parsed.settings.emplace_back(argument.substr(2), arguments[++i]);
    } else if (argument.size() > 1 && argument[0] == '-') {
      return Status::refused("", "unknown option " + argument);
    } else {
      parsed.positional.push_back(argument);
    }
  }
  if (parsed.output.empty()) return Status::refused("", "no output file (-o OUT)");
  if (!bundle && !parsed.positional.empty()) return Status::refused("", "unexpected argument " + parsed.positional[0]);
  if (bundle && parsed.positional.empty()) return Status::refused("", "no member package files");
  return Status::ok();
}

// Reads the description file and the settings; `status` is the exit status
// to return when false. A description file that cannot be used is a
// failure of the work; a setting on the command line that cannot, a bad
// argument.
bool readDescription(const BuildArguments& arguments, DescriptionParser& parser, std::ostream& err, int& status) {
  Status applied = arguments.description.empty() ? Status::ok() : parser.applyFile(arguments.description);
  if (!applied.isOk()) {
    status = failure(err, applied);
    return false;
  }
  for (const auto& setting : arguments.settings) {
    applied = parser.applyOption(setting.first, setting.second);
    if (!applied.isOk()) break;
  }
  if (applied.isOk()) applied = parser.finish();
  if (!applied.isOk()) status = usage(err, applied.toString());
  return applied.isOk();
}

// The arguments and the description of a build or bundle run, as
// `parser` is for one or the other; `status` is the exit status to return
// when false.
bool readBuildInput(const std::vector<std::string>& arguments, BuildArguments& parsed, DescriptionParser& parser,
                    std::ostream& err, int& status) {
  bool bundle = parser.description().bundle;
  Status parsedOk = parseBuildArguments(arguments, bundle, parsed);
  if (!parsedOk.isOk()) {
    status = usage(err, (bundle ? "bundle: " : "build: ") + parsedOk.toString());
    return false;
  }
  return readDescription(parsed, parser, err, status);
}

// The keys a build needs for its signature, from the key file.
Status loadSigningKeys(const BuildArguments& arguments, const PackageDescription& description, SigningKeys& keys) {
  SignatureKind kind = description.signature;
  if (kind == SignatureKind::None) return Status::ok();
  if (arguments.keyFile.empty()) {
    return Status::refused("", "signing needs a key file (--key KEYFILE), or --signature none");
  }
  Status read = readKeyFile(arguments.keyFile, keys);
  if (!read.isOk()) return read;
  if (needsEd25519Key(kind) && !keys.hasEd25519) return Status::notFound(arguments.keyFile, "no ed25519-private-key");
  if (needsLegacyKey(kind) && !keys.hasLegacy) return Status::notFound(arguments.keyFile, "no legacy-private-key");
  return Status::ok();
}

// Creates `path`, which must not exist, with `mode` from the start: a
// private key is never readable by anyone else, not for a moment and
// whatever the umask, and never replaces a file (or follows a link) that
// stands there. A file that could not be written whole is removed.
Status writeNewFile(Env& files, const std::string& path, const std::string& bytes, uint32_t mode) {
  std::unique_ptr<WritableFile> file;
  Status opened = files.openWritable(path, WriteMode::CreateNew, mode, file);
  if (!opened.isOk()) return failedTo("cannot create", opened);
  Status written = file->append(bytes.data(), bytes.size());
  if (written.isOk()) written = file->sync();
  Status closed = file->close();
  if (written.isOk()) written = closed;
  if (written.isOk()) return written;
  static_cast<void>(files.removeFile(path));
  return failedTo("cannot write", written);
}

// Writes the keys of a keygen run, leaving neither file behind when it fails.
Status writeKeyPair(Env& files, const std::string& base, const SigningKeys& keys) {
  std::string keyPath = base + ".key", trustPath = base + ".trust";
  FileStatus status;
  if (files.linkStatus(keyPath, status).isOk() || files.linkStatus(trustPath, status).isOk()) {
    return Status(Status::Kind::Exists, "", keyPath + " or " + trustPath + " exists already; not overwriting keys");
  }
  Status written = writeNewFile(files, keyPath, formatKeyFile(keys), 0600);
  if (!written.isOk()) return written;
  written = writeNewFile(files, trustPath, formatTrustFile(keys.trust), 0644);
  if (!written.isOk()) static_cast<void>(files.removeFile(keyPath));
  return written;
}

}  // namespace

Status writeOutputFile(const std::string& path, const std::string& bytes) {
  Status replaced = replaceFile(Env::posix(), path, bytes);
  if (replaced.isOk()) return replaced;
  return Status(replaced.kind(), path, "cannot write: " + replaced.reason());
}

int keygenCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, Env& files) {
  std::string base, constantsFile;
  Status parsed = parseNameAndOption(arguments, "--hash-constants", base, constantsFile);
  if (!parsed.isOk()) return usage(err, "keygen: " + parsed.toString());
  if (base.empty()) return usage(err, "keygen: no output name");
  SigningKeys keys;
  keys.trust.legacyHash = developmentHashConstants();
  if (!constantsFile.empty()) {
    TrustKeys source;
    Status read = readTrustFile(constantsFile, source);
    if (!read.isOk()) return failure(err, read);
    if (!source.hasLegacyKeys) return failure(err, constantsFile + ": no legacy-hash-iv and legacy-hash-k");
    keys.trust.legacyHash = source.legacyHash;
  }
  keys.hasEd25519 =
      signing::randomBytes(keys.ed25519Seed, 32) && signing::ed25519PublicKey(keys.ed25519Seed, keys.trust.ed25519Key);
  keys.hasLegacy = legacyGenerateKey(keys.legacyScalar, keys.trust.legacyKey);
  keys.trust.hasLegacyKeys = keys.hasLegacy;
  if (!keys.hasEd25519 || !keys.hasLegacy) return failure(err, "keygen: could not make keys");
  Status written = writeKeyPair(files, base, keys);
  if (!written.isOk()) return failure(err, written);
  out << "wrote " << base << ".key (private, keep it secret) and " << base << ".trust\n";
  return 0;
}

int buildCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  BuildArguments parsed;
  DescriptionParser parser(false);
  int status = 0;
  if (!readBuildInput(arguments, parsed, parser, err, status)) return status;
  const PackageDescription& description = parser.description();
  if (description.sha1 && needsEd25519Key(description.signature) && !parsed.allowEd25519OverSha1) {
    return usage(err,
                 "build: an Ed25519 signature over a SHA-1 digest is refused; "
                 "use --digest sha256, or --allow-ed25519-over-sha1 to build it anyway");
  }
  SigningKeys keys;
  Status loaded = loadSigningKeys(parsed, description, keys);
  if (!loaded.isOk()) return failure(err, loaded);
  PackageSigner signer(keys, description.signature);
  FileRecipe file;
  file.magic = description.magic;
  std::string bytes = buildPackage(description.package, signer.callback(), file);
  if (signer.failed()) return failure(err, "build: signing failed");
  Status written = writeOutputFile(parsed.output, bytes);
  if (!written.isOk()) return failure(err, written);
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

// The name in the header record of `part`: its first 16 bytes up to a zero
// byte, fewer when the payload is shorter.
std::string recordName(const std::string& data, const FilePart& part) {
  std::string field = data.substr(part.offset + PartHeaderSize, std::min<size_t>(part.length, NameFieldSize));
  field.resize(NameFieldSize, '\0');
  return decodeNameField(reinterpret_cast<const uint8_t*>(field.data()));
}

Status readMember(const std::string& path, BundleMember& member) {
  std::string data;
  Status read = readWholeFile(Env::posix(), path, data);
  if (!read.isOk()) return read;
  std::istringstream in(data);
  PartList file = listFileParts(in);
  if (!file.headerComplete || (file.magic != PackageMagic && file.magic != UnrecordedPackageMagic)) {
    return Status::corrupt(path, "not a package file");
  }
  bool started = false;
  for (const FilePart& part : file.parts) {
    if (part.end() > data.size()) break;
    if (part.type == PackageHeader && !started) {
      started = true;
      member.headerOffset = part.offset - FileHeaderSize;
      member.name = recordName(data, part);
    } else if (part.type == DigestSelect && !started) {
      member.sha256 = true;
    } else if (!started) {
      return Status::refused(path,
                             "not a stand-alone package (part " + std::to_string(part.type) + " before its header)");
    }
    if (part.type == Signature) {
      member.bytes = data.substr(FileHeaderSize, part.end() - FileHeaderSize);
      return Status::ok();
    }
  }
  return Status::corrupt(path, "no complete package with a signature part");
}

// The members in order; a SHA-1 member after a SHA-256 one would be read
// with a SHA-256 digest (the switch holds for the rest of the stream) and
// never verify, so that order is refused.
Status readMembers(const std::vector<std::string>& paths, std::vector<BundleMember>& members) {
  bool sha256Seen = false;
  for (const std::string& path : paths) {
    BundleMember member;
    Status read = readMember(path, member);
    if (!read.isOk()) return read;
    if (sha256Seen && !member.sha256) {
      return Status::refused(path, "a SHA-1 member cannot follow a SHA-256 member; put the SHA-1 members first");
    }
    sha256Seen = sha256Seen || member.sha256;
    members.push_back(member);
  }
  return Status::ok();
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
  DescriptionParser parser(true);
  int status = 0;
  if (!readBuildInput(arguments, parsed, parser, err, status)) return status;
  std::vector<BundleMember> members;
  Status read = readMembers(parsed.positional, members);
  if (!read.isOk()) return failure(err, read);
  // With a key, the bundle's own parts are signed unless told otherwise.
  SigningKeys keys;
  if (!parsed.keyFile.empty()) read = readKeyFile(parsed.keyFile, keys);
  if (!read.isOk()) return failure(err, read);
  if (!parsed.keyFile.empty() && !keys.hasEd25519) return failure(err, parsed.keyFile + ": no ed25519-private-key");
  PackageSigner signer(keys, SignatureKind::Ed25519);
  bool signing = !parsed.keyFile.empty() && !parsed.noBundleSignature;
  std::string bytes = bundleBytes(parser.description(), members, signing ? signer.headCallback() : nullptr);
  if (signer.failed()) return failure(err, "bundle: signing failed");
  Status written = writeOutputFile(parsed.output, bytes);
  if (!written.isOk()) return failure(err, written);
  out << "wrote " << parsed.output << " (" << bytes.size() << " bytes, " << members.size() << " members"
      << (signing ? ", signed" : "") << ")\n";
  return 0;
}

int inspectCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::string path, trustFile;
  Status parsed = parseNameAndOption(arguments, "--trust", path, trustFile);
  if (!parsed.isOk()) return usage(err, "inspect: " + parsed.toString());
  if (path.empty()) return usage(err, "inspect: no package file");
  TrustKeys keys = compiledTrustKeys();
  Status read = trustFile.empty() ? Status::ok() : readTrustFile(trustFile, keys);
  if (!read.isOk()) return failure(err, read);
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
    out << pkgtoolUsage;
    return 0;
  }
  return usage(err, "unknown command " + command);
}

}  // namespace installer
