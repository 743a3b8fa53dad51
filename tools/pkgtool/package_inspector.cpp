#include "package_inspector.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "hex_text.h"
#include "install_dry_run.h"
#include "model/package_labels.h"
#include "package/bundle_signature.h"
#include "package/inflater.h"
#include "package/member_table.h"
#include "package/package_format.h"
#include "package/package_header.h"
#include "package/package_signature.h"
#include "package/package_stream.h"
#include "part_list.h"
#include "platform/input_file.h"
#include "tool_errors.h"

namespace installer {

namespace {

const char* partName(uint32_t type) {
  switch (type) {
    case PackageHeader:
      return "package header";
    case BundleHeader:
      return "bundle header";
    case Text24:
      return "text 24";
    case Architecture:
      return "architecture";
    case Text2:
      return "text 2";
    case Note:
      return "note";
    case Dependencies:
      return "dependencies";
    case Provides:
      return "provides";
    case Conflicts:
      return "conflicts";
    case SquashfsImage:
      return "squashfs image";
    case BundleMembers:
      return "bundle members";
    case Files:
      return "files";
    case Signature:
      return "signature";
    case DigestSelect:
      return "digest select";
    case BundleSignature:
      return "bundle signature";
    case BundleMemberTable:
      return "bundle member table";
    default:
      return "unknown";
  }
}

std::string hexNumber(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

// Lists the parts as the installer's reader meets them; false when the
// file does not end exactly after a complete part.
bool printParts(const PartList& file, uint64_t size, std::ostream& out) {
  out << "parts:\n";
  uint64_t end = FileHeaderSize;
  for (const FilePart& part : file.parts) {
    out << "  offset " << part.offset << ": type " << part.type << " (" << partName(part.type) << "), " << part.length
        << " bytes\n";
    end = part.end();
    if (end > size) {
      out << "  the last part ends " << end - size << " bytes after the end of the file\n";
      return false;
    }
  }
  if (end < size) out << "  offset " << end << ": " << size - end << " bytes that are no complete part header\n";
  return end == size;
}

void printRelations(const char* label, const std::vector<DependencyRef>& list, std::ostream& out) {
  for (const DependencyRef& ref : list) {
    out << "  " << label << ": " << ref.name << " min=" << (ref.min ? formatVersion(ref.min) : "-")
        << " max=" << (ref.max ? formatVersion(ref.max) : "-") << " priority=" << ref.priority << "\n";
  }
}

void printHeader(const PackageInfo& record, std::ostream& out) {
  out << (record.isBundle ? "bundle " : "package ") << record.name << " " << formatVersion(record.version) << " ("
      << hexNumber(record.version) << ")\n";
  out << "  build time: " << record.buildTime << "\n";
  out << "  header flags: " << hexNumber(record.headerFlags) << "\n";
  out << "  architecture: " << record.architecture << "\n";
  if (!record.text24.empty()) out << "  text24: " << record.text24 << "\n";
  if (!record.text2.empty()) out << "  text2: " << record.text2 << "\n";
  if (!record.note.empty()) out << "  note: " << record.note << "\n";
  printRelations("depends", record.deps, out);
  printRelations("provides", record.provides, out);
  printRelations("conflicts", record.conflicts, out);
}

// Lists the file records of an inflated part 4 as the bytes come.
class FileRecordLister {
 public:
  explicit FileRecordLister(std::ostream& output) : out(output) {}

  void feed(const uint8_t* bytes, size_t n) {
    while (n > 0) {
      if (skipping > 0) {
        size_t step = n < skipping ? n : static_cast<size_t>(skipping);
        skipping -= step;
        bytes += step;
        n -= step;
        continue;
      }
      pending.push_back(*bytes++);
      --n;
      takePending();
    }
  }
  bool atRecordBoundary() const { return skipping == 0 && pending.empty(); }

 private:
  void takePending() {
    if (pending.size() < FileRecordHeaderSize) return;
    const uint8_t* header = pending.data();
    size_t nameLength = decodeLE16(header + FileNameLengthOffset);
    if (pending.size() < FileRecordHeaderSize + nameLength) return;
    char mode[16];
    std::snprintf(mode, sizeof mode, "%06o", decodeLE16(header + FileModeOffset));
    uint32_t size = decodeLE32(header + FileDataSizeOffset);
    out << "    " << mode << " " << size << " " << unsigned{header[FileVariantOffset]} << " "
        << std::string(pending.begin() + FileRecordHeaderSize, pending.end()) << "\n";
    skipping = size;
    pending.clear();
  }

  std::ostream& out;
  std::vector<uint8_t> pending;  // the record header and name read so far
  uint64_t skipping = 0;         // data bytes of the current record still to pass
};

// Inflates the current part 4 and lists its records; false when the
// compressed stream is damaged or ends inside a record. The inflater is
// driven here rather than read through an InflateStream, which reads damage
// as a plain end and drops what the failing call made: the listing names
// the damage and shows the records inflated before it, those of the failing
// call included (they are only shown, never installed). It is the zlib
// backend whatever the build configured: intact streams inflate alike with
// every backend (inflater.h), and zlib hands out exactly the bytes before
// the damage, where another may leave garbage in a failing call's output.
bool listFiles(PackageStream& stream, std::ostream& out) {
  out << "  files (mode size variant name):\n";
  std::unique_ptr<Inflater> inflater = newZlibInflater();
  FileRecordLister lister(out);
  std::vector<uint8_t> input(16384), output(16384);
  InflateStatus status = InflateStatus::Progress;
  while (status == InflateStatus::Progress) {
    size_t fed = 0;
    if (inflater->inputLeft() == 0) {
      stream.read(reinterpret_cast<char*>(input.data()), static_cast<std::streamsize>(input.size()));
      fed = static_cast<size_t>(stream.gcount());
      if (fed != 0) inflater->feed(input.data(), fed);
    }
    size_t before = inflater->inputLeft(), produced = 0;
    status = inflater->inflate(output.data(), output.size(), produced);
    lister.feed(output.data(), produced);
    // Nothing made, nothing taken and nothing new to take: the part ran dry.
    if (fed == 0 && produced == 0 && inflater->inputLeft() == before) break;
  }
  stream.clear(stream.rdstate() & ~(std::ios::eofbit | std::ios::failbit));
  if (status != InflateStatus::End) {
    out << "  the compressed file data is damaged or incomplete\n";
    return false;
  }
  if (!lister.atRecordBoundary()) {
    out << "  the file data ends inside a record\n";
    return false;
  }
  return true;
}

bool sha256Before(const std::vector<FilePart>& parts, uint64_t offset) {
  for (const FilePart& part : parts) {
    if (part.type == DigestSelect && part.offset < offset) return true;
  }
  return false;
}

// A stretch of the file a package's signature vouches for: its digest from
// the package's header part up to the signature's payload, or the
// signature's payload itself.
struct Coverage {
  uint64_t begin = 0;
  uint64_t end = 0;  // one past the last byte
  std::string label;
};

void printStretch(uint64_t begin, uint64_t end, const std::string& label, std::ostream& out) {
  out << "  " << begin << "-" << end - 1 << " (" << end - begin << " bytes): " << label << "\n";
}

// Every byte of the file once, in order: what vouches for it, or nothing.
void printCoverage(const std::vector<Coverage>& covered, uint64_t fileSize, std::ostream& out) {
  out << "coverage:\n";
  uint64_t next = 0;
  auto gapUntil = [&](uint64_t end) {
    if (next == 0 && end > 0) {
      uint64_t header = std::min<uint64_t>(end, FileHeaderSize);
      printStretch(0, header, "file header (magic, length): no signature", out);
      next = header;
    }
    if (next < end) printStretch(next, end, "no signature", out);
  };
  for (const Coverage& stretch : covered) {
    gapUntil(stretch.begin);
    printStretch(stretch.begin, stretch.end, stretch.label, out);
    next = stretch.end;
  }
  gapUntil(fileSize);
}

void printTrust(const TrustKeys& keys, const std::string& name, std::ostream& out) {
  out << "trust: " << name;
  if (trustsDevelopmentKey(keys)) {
    out << ": the development key, whose private half is public in the repository; what it accepts anyone "
           "could have signed";
  }
  out << "\n";
}

bool reportDryRun(const DryRunVerdict& run, std::ostream& out) {
  out << "installer: " << (run.accepted ? "accepted" : "REFUSED") << "\n";
  for (const std::string& message : run.messages) out << "  " << message << "\n";
  return run.accepted;
}

const char* verdict(bool checked, bool valid) {
  if (!checked) return "not checked";
  return valid ? "valid" : "invalid";
}

bool reportSignature(PackageStream& stream, const PackageInfo& record, const TrustKeys& keys,
                     const std::vector<FilePart>& parts, std::ostream& out) {
  SignatureCheck check;
  uint64_t headerOffset = stream.payloadOffset() - PartHeaderSize;
  bool accepted = verifyPackageSignature(Env::posix(), stream, record, keys, &check);
  bool sha256 = sha256Before(parts, headerOffset);
  out << "  digest: " << (sha256 ? "SHA-256 " : "SHA-1 ") << hexText(stream.digestResult(), sha256 ? 32 : 20) << "\n";
  if (check.length == 0) {
    out << "  signature: " << stream.partLength() << " bytes, too short for any signature\n";
  } else {
    out << "  signature: " << check.length << " bytes; ed25519 "
        << verdict(check.length == fullSignatureLength, check.ed25519Valid) << "; legacy "
        << verdict(check.legacyChecked, check.legacyValid) << " (" << (check.legacyAllowed ? "allowed" : "not allowed")
        << " for this package)\n";
  }
  out << "  verdict: " << (accepted ? "accepted" : "REFUSED") << "\n";
  return accepted;
}

void addSignedStretches(PackageStream& stream, uint64_t headerOffset, const std::string& name, bool accepted,
                        std::vector<Coverage>& covered) {
  uint64_t signature = stream.payloadOffset();
  std::string digest =
      std::string("digest of package ") + name + (accepted ? " (signature accepted)" : " (signature REFUSED)");
  covered.push_back({headerOffset, signature, digest});
  covered.push_back({signature, signature + stream.partLength(), "signature of package " + name});
}

// "1 row", "2 rows".
std::string counted(size_t n, const std::string& noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

std::string rowText(uint32_t length, const uint8_t* sha256) {
  return std::to_string(length) + " bytes, SHA-256 " + hexText(sha256, 32);
}

// The member table part of a bundle's head; its rows count once the bundle
// signature after it vouches for them.
void reportTableRows(PackageStream& stream, MemberTable& table, std::ostream& out) {
  if (!readMemberTable(stream, table)) {
    out << "  member table: malformed\n";
    return;
  }
  out << "  member table: " << counted(table.rows.size(), "row") << "\n";
  for (size_t i = 0; i < table.rows.size(); ++i) {
    out << "    row " << i + 1 << ": " << rowText(table.rows[i].length, table.rows[i].sha256) << "\n";
  }
}

// The bundle signature part: what it covers and whether the installer
// would take it (it must also stand directly before a part 1). The
// members are hashed for the member table before it, if there is one.
bool reportBundleSignature(PackageStream& stream, const TrustKeys& keys, const std::vector<FilePart>& parts,
                           const MemberTable& table, std::ostream& out) {
  uint64_t headerOffset = stream.payloadOffset() - PartHeaderSize;
  uint32_t length = stream.partLength();
  bool placed = stream.headLength() == headerOffset;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i].offset == headerOffset) placed = placed && parts[i + 1].type == PackageHeader;
  }
  bool valid = verifyBundleSignature(stream, keys);
  if (table.present) stream.memberSpans().start();
  out << "  bundle signature: " << length << " bytes over bytes 0 to " << headerOffset - 1 << " of the file";
  if (placed) out << ", SHA-256 " << hexText(stream.headDigest(), 32);
  out << "; ed25519 " << (valid ? "valid" : "invalid") << "\n";
  if (!placed) out << "  the part is not the first one of the file's head, directly before a member's part 1\n";
  if (!table.present) {
    out << "  member table: none: the members are not bound to the signature; where the settings say "
           "require-signed-bundles 1 the bundle is refused until it is signed again\n";
  }
  out << "  verdict: " << (valid && placed ? "accepted" : "REFUSED") << "\n";
  return valid && placed;
}

// The second pass: what the installer's reader makes of the file.
class PackageReport {
 public:
  PackageReport(std::istream& in, const TrustKeys& trust, const std::vector<FilePart>& rawParts, std::ostream& output)
      : stream(in, true, nullptr), keys(trust), parts(rawParts), out(output) {
    stream.wantedTypes = {PackageHeader, BundleHeader, Text24,    Architecture,    Text2,
                          Note,          Dependencies, Provides,  Conflicts,       SquashfsImage,
                          BundleMembers, Files,        Signature, BundleSignature, BundleMemberTable};
  }

  void run() {
    int32_t type = stream.nextPart();
    while (type != -1) {
      if (type == PackageHeader || type == BundleHeader) {
        // A header that cannot be read leaves the stream failed where it
        // stood; the next nextPart() then ends the loop.
        type = readHeader() ? stream.currentType : stream.nextPart();
        continue;
      }
      handlePart(type);
      type = stream.nextPart();
      reportMemberRow();
    }
    if (packages == 0) {
      out << "no package in the file\n";
    } else if (inPackage) {
      out << "package " << record.name << " has no signature part\n";
    }
    reportMemberTable();
  }

  const std::vector<Coverage>& coverage() const { return covered; }

 private:
  bool readHeader() {
    headerOffset = stream.payloadOffset() - PartHeaderSize;
    if (inPackage) out << "package " << record.name << " has no signature part\n";
    if (unsignedHead) {
      out << "  bundle signature: none\n"
             "  where the settings say require-signed-bundles 1 the bundle is refused until it is signed\n";
    }
    record = PackageInfo();
    unsignedHead = false;
    if (!readPackageHeader(record, stream)) {
      out << "a header could not be read\n";
      return false;
    }
    printHeader(record, out);
    inPackage = !record.isBundle;
    unsignedHead = record.isBundle;
    if (!record.isBundle) ++packages;
    if (inPackage && table.present) coverAllowedDigestSelect();
    return true;
  }

  void handlePart(int32_t type) {
    if (type == SquashfsImage) {
      out << "  squashfs image: " << stream.partLength() << " bytes at file offset " << stream.payloadOffset() << "\n";
    } else if (type == BundleMembers) {
      std::vector<DependencyRef> members;
      static_cast<void>(readDependencyList(stream, members));
      out << "  member list (" << members.size() << " entries):\n";
      printRelations("member", members, out);
    } else if (type == Files && inPackage) {
      static_cast<void>(listFiles(stream, out));
    } else if (type == BundleMemberTable && unsignedHead && !table.present) {
      reportTableRows(stream, table, out);
    } else if (type == BundleSignature && unsignedHead) {
      unsignedHead = false;
      uint64_t partOffset = stream.payloadOffset() - PartHeaderSize;
      bool accepted = reportBundleSignature(stream, keys, parts, table, out);
      tableVouchedFor = accepted;
      covered.push_back({0, partOffset, std::string("bundle signature (") + (accepted ? "accepted" : "REFUSED") + ")"});
      covered.push_back({partOffset, stream.payloadOffset() + uint64_t{stream.partLength()}, "bundle signature part"});
    } else if (type == Signature && inPackage) {
      bool accepted = reportSignature(stream, record, keys, parts, out);
      addSignedStretches(stream, headerOffset, record.name, accepted, covered);
      inPackage = false;
    } else {
      out << "part " << type << " (" << partName(static_cast<uint32_t>(type)) << ", " << stream.partLength()
          << " bytes) " << (inPackage ? "out of order" : "outside a package") << "\n";
    }
  }

  // An empty part 25 straight after the member before: the one thing a
  // member table lets stand between two members.
  void coverAllowedDigestSelect() {
    for (const FilePart& part : parts) {
      bool before = part.offset + PartHeaderSize == headerOffset && part.type == DigestSelect && part.length == 0;
      if (before && !covered.empty() && covered.back().end == part.offset) {
        covered.push_back({part.offset, headerOffset, "empty digest select part, allowed here by the member table"});
      }
    }
  }

  // A member has just been read to the end of its part 9: how it compares
  // with its row.
  void reportMemberRow() {
    const MemberSpans& spans = stream.memberSpans();
    if (!table.present || spans.closed() == rowsReported) return;
    rowsReported = spans.closed();
    size_t index = rowsReported - 1;
    const MemberSpans::Span& span = spans.last();
    if (index >= table.rows.size()) {
      out << "  member row: none, the table has " << counted(table.rows.size(), "row") << "\n";
      ++unmatched;
      return;
    }
    bool matches = memberMatchesRow(stream, table, index);
    std::string said = "member row " + std::to_string(index + 1) + (matches ? " matches" : " does NOT match");
    out << "  " << said << " (carried " << rowText(span.length, span.sha256) << ")"
        << (span.cleanlyPreceded ? "" : "; more than an empty part 25 stands before the member") << "\n";
    if (!matches) ++unmatched;
    // The member's two stretches, its digest's and its signature's.
    for (size_t i = covered.size() >= 2 ? covered.size() - 2 : 0; i < covered.size(); ++i) {
      covered[i].label += "; " + said;
    }
  }

  void reportMemberTable() {
    if (!table.present) return;
    const MemberSpans& spans = stream.memberSpans();
    bool met = tableVouchedFor && unmatched == 0 && everyRowMet(stream, table, spans.closed());
    out << "member table: " << (met ? "accepted" : "REFUSED") << " (" << counted(table.rows.size(), "row") << ", "
        << counted(spans.closed(), "member") << " read";
    if (unmatched != 0) out << ", " << unmatched << " not matching their rows";
    if (spans.open()) out << ", the last of them incomplete";
    if (spans.bytesOutside() != 0) out << ", " << spans.bytesOutside() << " bytes after the last member";
    if (!tableVouchedFor) out << ", the bundle signature does not vouch for it";
    out << ")\n";
  }

  PackageStream stream;
  const TrustKeys& keys;
  const std::vector<FilePart>& parts;
  std::ostream& out;
  PackageInfo record;
  uint64_t headerOffset = 0;  // of the current package's header part
  std::vector<Coverage> covered;
  bool inPackage = false;
  bool unsignedHead = false;  // in a bundle's own parts, no bundle signature met yet
  int packages = 0;
  MemberTable table;             // of the bundle's head, when it has one
  bool tableVouchedFor = false;  // by a bundle signature that the installer takes
  size_t rowsReported = 0;       // members compared with their rows so far
  size_t unmatched = 0;
};

}  // namespace

int inspectPackageFile(const std::string& path, const TrustKeys& keys, const std::string& trustName, std::ostream& out,
                       std::ostream& err) {
  InputFile in(Env::posix(), path);
  if (!in.is_open()) {
    err << "pkgtool: " << systemError(path, "cannot open").toString() << "\n";
    return 1;
  }
  PartList file = listFileParts(in);
  if (!file.headerComplete) {
    out << "file: " << path << "\nmagic: missing (shorter than a file header)\n";
    return 1;
  }
  uint32_t magic = file.magic;
  const char* kind = magic == PackageMagic ? "recorded" : magic == UnrecordedPackageMagic ? "unrecorded" : nullptr;
  out << "file: " << path << "\n";
  printTrust(keys, trustName, out);
  out << "magic: " << hexNumber(magic) << " (" << (kind ? kind : "not a package file")
      << ")\nlength field: " << file.lengthField << "\n";
  in.clear();
  uint64_t size = static_cast<uint64_t>(in.seekg(0, std::ios::end).tellg());
  static_cast<void>(printParts(file, size, out));
  if (kind == nullptr) return 1;
  in.clear();
  in.seekg(0);
  PackageReport report(in, keys, file.parts, out);
  report.run();
  printCoverage(report.coverage(), size, out);
  // The installer's own run is the verdict; everything above says why.
  return reportDryRun(dryRunInstall(Env::posix(), path, keys), out) ? 0 : 1;
}

}  // namespace installer
