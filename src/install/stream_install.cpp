#include "install/stream_install.h"

#include <memory>
#include <set>
#include <vector>

#include "install/package_install.h"
#include "model/messages.h"
#include "package/bundle_signature.h"
#include "package/member_table.h"
#include "package/package_format.h"
#include "package/package_header.h"
#include "package/package_stream.h"
#include "package/stream_end.h"
#include "pdb/database_writer.h"
#include "pdb/pending_actions.h"
#include "platform/system_facts.h"
#include "rules/acceptance.h"

namespace installer {

namespace {

const TrustKeys& keysOf(const StreamInstallRequest& request) {
  return request.keys != nullptr ? *request.keys : compiledTrustKeys();
}

bool partIs(const PackageStream& stream, PartType type) { return stream.currentType == static_cast<int32_t>(type); }

void advance(PackageStream& stream) { static_cast<void>(stream.nextPart()); }

// The parts the install run wants, in the order it meets them.
const std::vector<uint32_t> installRunParts = {
    static_cast<uint32_t>(PartType::PackageHeader), static_cast<uint32_t>(PartType::BundleHeader),
    static_cast<uint32_t>(PartType::BundleMembers), static_cast<uint32_t>(PartType::Architecture),
    static_cast<uint32_t>(PartType::Dependencies),  static_cast<uint32_t>(PartType::Provides),
    static_cast<uint32_t>(PartType::Conflicts),     static_cast<uint32_t>(PartType::SquashfsImage),
    static_cast<uint32_t>(PartType::Files),         static_cast<uint32_t>(PartType::Signature),
};

// Everything a bundle run carries from step to step.
struct BundleRun {
  InstallerState& state;
  StagedFiles& staged;
  PackageStream& stream;
  const StreamInstallRequest& request;
  StreamInstallResult& result;
  // The rows of the bundle's member table, when its signature vouches for one.
  MemberTable table;
};

void dropRecordNamed(InstallerState& state, const std::string& name, StagedFiles* staged) {
  int index = indexOfName(state, name);
  if (index < 0) return;
  if (staged != nullptr) stagePackageRemoval(*staged, *state.packages[static_cast<size_t>(index)]);
  removePackageAt(state, static_cast<size_t>(index));
}

// Reads the bundle's own header. False when the run is to give up (with
// ExitFailure): a header that cannot be read, or one with relations.
bool readBundleHeader(BundleRun& run, InstalledPackage& bundle) {
  if (!readPackageHeader(bundle, run.stream)) return false;
  // A bundle only groups packages; relations belong to its members.
  if (!bundle.deps.empty() || !bundle.provides.empty() || !bundle.conflicts.empty()) return false;
  if (partIs(run.stream, PartType::SquashfsImage)) advance(run.stream);
  if (bundle.bootImageFlag) {
    run.result.imageDirectory = packageDir(bundle);
  } else {
    run.stream.stopCopying();  // nothing will keep the copy
  }
  return true;
}

// Reads the member list; it is acted on only once the bundle's own parts
// have been vouched for and the bundle is recorded. A short list still
// holds the members read before the break; the stream's failure then ends
// the bundle.
std::vector<DependencyRef> readMemberList(PackageStream& stream) {
  std::vector<DependencyRef> members;
  static_cast<void>(readDependencyList(stream, members));
  advance(stream);
  return members;
}

// Whether the bundle's own parts may be trusted: a bundle signature part
// stands here (after the member table, if any), verifies and is followed
// directly by the first member's part 1; or there is none and the settings
// do not ask for one. From here on the signature and table parts are
// unknown parts again. `table` receives the member table when the
// signature vouches for it, and the stream then hashes the members for it.
bool headVouchedFor(PackageStream& stream, const TrustKeys& keys, MemberTable& table) {
  if (partIs(stream, PartType::BundleMemberTable)) {
    if (!readMemberTable(stream, table)) return false;
    advance(stream);
  }
  stream.wantedTypes = installRunParts;
  if (!partIs(stream, PartType::BundleSignature)) {
    table = MemberTable();  // nothing vouches for it
    return !signedBundlesRequired();
  }
  if (!verifyBundleSignature(stream, keys)) return false;
  // A signature without a table leaves the members interchangeable; where
  // signatures are required, such a bundle must be signed again.
  if (!table.present && signedBundlesRequired()) return false;
  if (table.present) stream.memberSpans().start();
  uint64_t signatureEnd = uint64_t{stream.payloadOffset()} + stream.partLength();
  advance(stream);
  // Nothing unsigned in between, not even a part that only other readers
  // of the file take into the bundle's record (a note, say).
  return partIs(stream, PartType::PackageHeader) && stream.payloadOffset() - PartHeaderSize == signatureEnd;
}

// Stages the bundle's own record in place of the installed one and hands
// the record to the state. False when the run is to give up (with
// ExitFailure): the record could not be staged.
bool recordBundle(BundleRun& run, std::unique_ptr<InstalledPackage> bundle) {
  dropRecordNamed(run.state, bundle->name, &run.staged);
  if (!prepareDatabaseDir(*bundle, run.staged) || !writePackageMeta(run.state, *bundle, run.staged)) return false;
  dropRecordNamed(run.state, bundle->name, nullptr);
  run.state.packages.push_back(std::move(bundle));
  return true;
}

std::set<std::string> membersOf(const InstallerState& state, const std::string& bundleName) {
  std::set<std::string> names;
  for (const auto& package : state.packages) {
    if (nameEquals(package->bundle.name, bundleName)) names.insert(package->name);
  }
  return names;
}

// A nameless record that conflicts with every version of a member keeps the
// member disabled for the rest of the process, unless the user chose its
// state. False, with nothing held back, for a list longer than any bundle
// carries: an unsigned bundle's list is outside every signature, and each
// of its records would be weighed against every other record whenever
// states are settled.
bool holdListedMembersDisabled(BundleRun& run, const std::vector<DependencyRef>& members) {
  if (members.size() > MaxBundleMembers) return false;
  for (const DependencyRef& member : members) {
    if (run.request.userChoices.count(member.name) != 0) continue;
    auto guard = std::make_unique<InstalledPackage>();
    guard->conflicts.push_back(DependencyRef{member.name, 0, 0, 0});
    run.state.packages.push_back(std::move(guard));
  }
  return true;
}

// A bundle whose members its member table does not vouch for is broken as
// a whole: one member more than rows, or one that does not match its row.
bool refuseUnboundMember(BundleRun& run, const DependencyRef& bundleRef) {
  InstalledPackage named;
  named.bundle = bundleRef;  // names the bundle
  reportBrokenPackage(run.state, named);
  return false;
}

// With a member table, each member is checked against its row as soon as
// it has been read to its end. Its work is only staged by then, and all of
// it is dropped with the failed bundle.
bool memberVouchedFor(const BundleRun& run, size_t index) {
  return !run.table.present || memberMatchesRow(run.stream, run.table, index);
}

// Installs the members, each from its part 1; `count` says how many were.
// False when one failed.
bool installMembers(BundleRun& run, const DependencyRef& bundleRef, std::set<std::string>& oldMembers, size_t& count) {
  count = 0;
  const PackageInstallRequest request{run.request.flags, run.request.userChoices, &bundleRef, keysOf(run.request)};
  while (partIs(run.stream, PartType::PackageHeader)) {
    if (run.table.present && count >= run.table.rows.size()) return refuseUnboundMember(run, bundleRef);
    PackageInstallOutcome outcome;
    InstalledPackage* member = installPackage(run.state, run.staged, run.stream, request, outcome);
    if (member == nullptr) return false;
    if (!memberVouchedFor(run, count)) return refuseUnboundMember(run, bundleRef);
    oldMembers.erase(member->name);
    if (outcome.bootImage) run.result.bootImage = true;
    ++count;
  }
  return true;
}

// Marks the members that the new version of the bundle no longer carries
// for uninstall, and carries that out.
void dropOldMembers(BundleRun& run, const std::set<std::string>& oldMembers) {
  for (const std::string& name : oldMembers) {
    int index = indexOfName(run.state, name);
    if (index >= 0) run.state.packages[static_cast<size_t>(index)]->pending = PendingAction::Uninstall;
  }
  // Silent: there is nothing of the outcome to pass on.
  static_cast<void>(applyPendingActions(run.state, run.staged, Verbosity::Silent));
}

// Nothing is staged until the bundle's own parts are vouched for.
ExitStatus installBundle(BundleRun& run) {
  auto bundle = std::make_unique<InstalledPackage>();
  // Wanted only among the bundle's own parts, up to the first member.
  run.stream.wantedTypes.push_back(PartType::BundleMemberTable);
  run.stream.wantedTypes.push_back(PartType::BundleSignature);
  if (!readBundleHeader(run, *bundle)) return ExitFailure;
  bool listed = partIs(run.stream, PartType::BundleMembers);
  std::vector<DependencyRef> listedMembers;
  if (listed) listedMembers = readMemberList(run.stream);
  if (!headVouchedFor(run.stream, keysOf(run.request), run.table)) {
    reportBrokenPackage(run.state, *bundle);
    return ExitBundleFailed;
  }
  // Cut short before its first member, it is given up as any bundle followed
  // by something unexpected, only before a record is staged that nothing
  // could vouch for.
  if (run.stream.currentType == -1 && !endedAtDeclaredLength(run.stream)) return ExitBundleFailed;
  uint32_t flags = run.request.flags;
  if ((checkAcceptance(run.state, *bundle, flags) & ~flags) != 0) return ExitBundleFailed;
  const DependencyRef bundleRef{bundle->name, bundle->version, bundle->version, 0};
  InstalledPackage summary = *bundle;
  if (!recordBundle(run, std::move(bundle))) return ExitFailure;

  std::set<std::string> oldMembers = membersOf(run.state, bundleRef.name);
  if (listed && !holdListedMembersDisabled(run, listedMembers)) return ExitFailure;
  size_t installed = 0;
  if (!installMembers(run, bundleRef, oldMembers, installed)) return ExitBundleFailed;
  if (partIs(run.stream, PartType::Architecture)) advance(run.stream);
  // A row without its member, or anything after the last member.
  if (run.table.present && !everyRowMet(run.stream, run.table, installed)) {
    reportBrokenPackage(run.state, summary);
    return ExitBundleFailed;
  }
  if (run.stream.currentType != -1 || !endedAtDeclaredLength(run.stream)) return ExitBundleFailed;
  if (installed == 0) return ExitBundleEmpty;

  dropOldMembers(run, oldMembers);
  setStatusLine(run.state, "");
  run.result.record = summary;
  return ExitSuccess;
}

}  // namespace

StreamInstallResult installStream(InstallerState& state, StagedFiles& staged, std::istream& input,
                                  const StreamInstallRequest& request) {
  StreamInstallResult result;
  PackageStream stream(input, true, request.copySink);
  stream.wantedTypes = installRunParts;
  advance(stream);
  if (!partIs(stream, PartType::BundleHeader)) {
    const PackageInstallRequest packageRequest{request.flags, request.userChoices, nullptr, keysOf(request)};
    PackageInstallOutcome outcome;
    InstalledPackage* installed = installPackage(state, staged, stream, packageRequest, outcome);
    result.imageDirectory = outcome.imageDirectory;
    result.bootImage = outcome.bootImage;
    if (installed == nullptr) return result;
    result.record = *installed;
    result.status = ExitSuccess;
    return result;
  }
  BundleRun run{state, staged, stream, request, result, MemberTable()};
  result.status = installBundle(run);
  return result;
}

}  // namespace installer
