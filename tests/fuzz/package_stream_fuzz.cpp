// The package stream reader over any bytes: every part of a package or
// bundle, header records, relation lists and signatures (a bundle's member
// table too, with each member checked against its row as it ends once a
// bundle signature part has started the member spans), read with digests and a copy (as the install run reads) and
// again without them, seeking in each part (as the database loader and
// pkgtool inspect may).
#include <memory>
#include <sstream>

#include "fuzz_input.h"
#include "package/bundle_signature.h"
#include "package/member_table.h"
#include "package/package_header.h"
#include "package/package_signature.h"
#include "package/stream_end.h"

using namespace installer;

namespace {

const std::vector<uint32_t> everyPart = {1, 2, 3, 4, 9, 16, 17, 18, 19, 20, 21, 23, 24, 26, 27};

bool isRelationList(int32_t type) {
  return type == Dependencies || type == Conflicts || type == Provides || type == BundleMembers;
}

// Reads some of the part, in steps the input chooses, then moves on.
void readSome(PackageStream& stream, bool seeking) {
  char buffer[64];
  uint32_t length = stream.partLength();
  if (seeking) {
    stream.seekg(length / 2, std::ios_base::beg);
    static_cast<void>(stream.tellg());
    stream.seekg(-3, std::ios_base::end);
    stream.clear();
  }
  stream.read(buffer, sizeof buffer);
  static_cast<void>(stream.peek());
  stream.unget();
  static_cast<void>(stream.get());
}

// Each member that has just ended against its row.
void checkRows(const PackageStream& stream, const MemberTable& table, uint32_t& checked) {
  if (!table.present || stream.memberSpans().closed() == checked) return;
  checked = stream.memberSpans().closed();
  static_cast<void>(memberMatchesRow(stream, table, checked - 1));
}

void readParts(ScratchEnv& env, PackageStream& stream, bool seeking) {
  stream.wantedTypes = everyPart;
  auto record = std::make_unique<PackageInfo>();
  MemberTable table;
  uint32_t checked = 0;
  int32_t type = stream.nextPart();
  while (type != -1) {
    checkRows(stream, table, checked);
    if (type == PackageHeader || type == BundleHeader) {
      record = std::make_unique<PackageInfo>();
      if (!readPackageHeader(*record, stream)) return;
      type = stream.currentType;
      continue;
    }
    if (isRelationList(type)) {
      std::vector<DependencyRef> list;
      static_cast<void>(readDependencyList(stream, list));
    } else if (type == Signature && stream.hashing()) {
      static_cast<void>(verifyPackageSignature(env, stream, *record));
    } else if (type == BundleMemberTable && !table.present) {
      static_cast<void>(readMemberTable(stream, table));
    } else if (type == BundleSignature && stream.hashing()) {
      static_cast<void>(verifyBundleSignature(stream, compiledTrustKeys()));
      if (table.present && !stream.memberSpans().started()) stream.memberSpans().start();
    } else {
      readSome(stream, seeking);
    }
    type = stream.nextPart();
  }
  checkRows(stream, table, checked);
  if (table.present) static_cast<void>(everyRowMet(stream, table, checked));
  static_cast<void>(endedAtDeclaredLength(stream));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  std::string bytes = textOf(data, size);
  std::istringstream hashed(bytes), plain(bytes);
  std::stringbuf copy;
  PackageStream first(hashed, true, &copy);
  readParts(env, first, false);
  PackageStream second(plain, false, nullptr);
  readParts(env, second, true);
  return 0;
}
