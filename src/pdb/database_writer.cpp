#include "pdb/database_writer.h"

#include "model/messages.h"

namespace installer {

namespace {

// Expected sizes: createStagedFile keeps the temporary file on the
// database's own file system only when this much (plus slack) is free.
constexpr uint32_t versionSizeHint = 32;
constexpr uint32_t listSizeHint = 1024;
constexpr uint32_t bundleSizeHint = 16;
constexpr uint32_t filesSizeHint = 4096;
constexpr uint32_t stateSizeHint = 8;

// Stages `path` with `text`; ok when every byte reached the temporary file.
Status writeTextFile(StagedFiles& staged, const std::string& path, const std::string& text, uint32_t sizeHint) {
  std::unique_ptr<WritableFile> out;
  Status done = createStagedFile(staged, path, sizeHint, 0, out);
  if (done.isOk()) done = out->append(text.data(), text.size());
  return done.isOk() ? out->close() : done;
}

// Reports a failed meta or state file under its "meta/" name.
bool failed(InstallerState& state, const InstalledPackage& package, const char* fileName, const Status& failure) {
  reportInstallFailure(state, package, std::string("meta/") + fileName, failure);
  return false;
}

Status writeVersion(const InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  std::string line = std::to_string(package.version) + " " + std::to_string(package.buildTime) + "\n";
  return writeTextFile(staged, dir + "version", line, versionSizeHint);
}

// "provides" and "conflicts" are absent for an empty list; an older
// version's file is removed so that a restore does not bring it back.
Status writeOptionalList(StagedFiles& staged, const std::string& path, const std::vector<DependencyRef>& list,
                         bool withPriority) {
  if (list.empty()) {
    stageDelete(staged, path);
    return Status::ok();
  }
  return writeRefList(staged, path, list, withPriority);
}

Status writeBundle(const InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  if (package.bundle.name.empty()) {
    stageDelete(staged, dir + "bundle");
    return Status::ok();
  }
  return writeTextFile(staged, dir + "bundle", package.bundle.name + "\n", bundleSizeHint);
}

// One path per line without its leading "/", in the set's order.
Status writeFiles(const InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  std::string text;
  for (const std::string& path : package.files) {
    size_t start = !path.empty() && path[0] == '/' ? 1 : 0;
    if (start == path.size()) continue;
    text.append(path, start, std::string::npos);
    text += '\n';
  }
  return writeTextFile(staged, dir + "files", text, filesSizeHint);
}

bool writeMetaFiles(InstallerState& state, InstalledPackage& package, StagedFiles& staged) {
  std::string dir = packageDir(package);
  Status done = writeVersion(package, staged, dir);
  if (!done.isOk()) return failed(state, package, "version", done);
  done = writeRefList(staged, dir + "deps", package.deps, false);
  if (!done.isOk()) return failed(state, package, "deps", done);
  done = writeOptionalList(staged, dir + "provides", package.provides, true);
  if (!done.isOk()) return failed(state, package, "provides", done);
  done = writeOptionalList(staged, dir + "conflicts", package.conflicts, false);
  if (!done.isOk()) return failed(state, package, "conflicts", done);
  done = writeBundle(package, staged, dir);
  if (!done.isOk()) return failed(state, package, "bundle", done);
  if (!package.isBundle) done = writeFiles(package, staged, dir);
  if (!done.isOk()) return failed(state, package, "files", done);
  return true;
}

const char* stateWord(const InstalledPackage& package) { return package.byUser ? "user\n" : "auto\n"; }

// "enabled" exists only for a package the user enabled.
bool writeEnabledState(InstallerState& state, InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  if (!package.byUser) {
    stageDelete(staged, dir + "enabled");
    return true;
  }
  Status written = writeTextFile(staged, dir + "enabled", "user\n", stateSizeHint);
  return written.isOk() || failed(state, package, "enabled", written);
}

void writeStateFiles(InstallerState& state, InstalledPackage& package, StagedFiles& staged) {
  if (package.disabled) {
    // Reported where it failed; the record is written all the same.
    static_cast<void>(writeDisabledState(state, package, staged));
    return;
  }
  std::string dir = packageDir(package);
  stageDelete(staged, dir + "disabled");
  static_cast<void>(writeEnabledState(state, package, staged, dir));
}

}  // namespace

Status writeRefList(StagedFiles& staged, const std::string& path, const std::vector<DependencyRef>& list,
                    bool withPriority) {
  std::string text;
  for (const DependencyRef& ref : list) {
    text += ref.name + ' ' + std::to_string(ref.min) + ' ' + std::to_string(ref.max);
    if (withPriority) text += ' ' + std::to_string(ref.priority);
    text += '\n';
  }
  return writeTextFile(staged, path, text, listSizeHint);
}

bool writePackageMeta(InstallerState& state, InstalledPackage& package, StagedFiles& staged) {
  bool wantsMeta = !package.bootImageFlag && (package.headerFlags & NoMetaFiles) == 0;
  if (wantsMeta && !writeMetaFiles(state, package, staged)) return false;
  writeStateFiles(state, package, staged);
  return true;
}

bool markEnabled(InstallerState& state, InstalledPackage& package, StagedFiles& staged) {
  std::string dir = packageDir(package);
  stageDelete(staged, dir + "disabled");
  bool written = writeEnabledState(state, package, staged, dir);
  package.disabled = false;
  package.pending = PendingAction::None;
  return written;
}

bool writeDisabledState(InstallerState& state, InstalledPackage& package, StagedFiles& staged) {
  std::string dir = packageDir(package);
  stageDelete(staged, dir + "enabled");
  Status written = writeTextFile(staged, dir + "disabled", stateWord(package), stateSizeHint);
  return written.isOk() || failed(state, package, "disabled", written);
}

}  // namespace installer
