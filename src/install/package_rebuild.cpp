#include "install/package_rebuild.h"

#include <cstring>

#include "install/file_extraction.h"
#include "model/package_info.h"
#include "package/package_format.h"
#include "package/package_header.h"
#include "package/package_signature.h"
#include "package/package_stream.h"
#include "platform/input_file.h"

namespace installer {

namespace {

// The parts the install run reads; the others are passed over (and digested).
const std::vector<uint32_t> parts = {
    static_cast<uint32_t>(PartType::PackageHeader), static_cast<uint32_t>(PartType::BundleHeader),
    static_cast<uint32_t>(PartType::BundleMembers), static_cast<uint32_t>(PartType::Architecture),
    static_cast<uint32_t>(PartType::Dependencies),  static_cast<uint32_t>(PartType::Provides),
    static_cast<uint32_t>(PartType::Conflicts),     static_cast<uint32_t>(PartType::SquashfsImage),
    static_cast<uint32_t>(PartType::Files),         static_cast<uint32_t>(PartType::Signature),
};

bool partIs(const PackageStream& stream, PartType type) { return stream.currentType == static_cast<int32_t>(type); }

std::vector<RecordRequest> requestsOf(const std::vector<PackageContents::Wanted>& wanted, uint32_t member) {
  std::vector<RecordRequest> requests;
  for (const PackageContents::Wanted& one : wanted) {
    if (one.member == member) requests.push_back(RecordRequest{one.record, one.out, false});
  }
  return requests;
}

void markWritten(std::vector<PackageContents::Wanted>& wanted, uint32_t member,
                 const std::vector<RecordRequest>& requests) {
  for (const RecordRequest& request : requests) {
    for (PackageContents::Wanted& one : wanted) {
      if (one.member == member && one.record == request.record && one.out == request.out) one.written = request.written;
    }
  }
}

bool fail(std::string& why, const std::string& what) {
  why = what;
  return false;
}

}  // namespace

bool PackageFileContents::extract(Env& env, const std::string& path, std::vector<Wanted>& wanted, std::string& why) {
  InputFile file(env, path, ReadLimits{true, true});
  if (!file.is_open()) return fail(why, file.status().reason());
  PackageStream stream(file, true, nullptr);
  stream.wantedTypes = parts;
  const TrustKeys& keys = trust != nullptr ? *trust : compiledTrustKeys();
  static_cast<void>(stream.nextPart());
  while (stream.currentType != -1) {
    if (!partIs(stream, PartType::PackageHeader)) {
      static_cast<void>(stream.nextPart());
      continue;
    }
    uint32_t member = stream.packageIndex();
    std::vector<RecordRequest> requests = requestsOf(wanted, member);
    InstalledPackage record;
    if (!readPackageHeader(record, stream)) return fail(why, "its package " + std::to_string(member) + " is damaged");
    if (partIs(stream, PartType::SquashfsImage)) static_cast<void>(stream.nextPart());
    if (partIs(stream, PartType::Files)) {
      if (!requests.empty() && !extractRecords(stream, requests)) {
        return fail(why, "the files of its package " + std::to_string(member) + " cannot be read");
      }
      static_cast<void>(stream.nextPart());
    }
    if (requests.empty()) continue;
    if (!partIs(stream, PartType::Signature) || !verifyPackageSignature(env, stream, record, keys)) {
      return fail(why, "its package " + std::to_string(member) + " does not verify");
    }
    markWritten(wanted, member, requests);
    static_cast<void>(stream.nextPart());
  }
  return true;
}

}  // namespace installer
