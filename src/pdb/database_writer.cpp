#include "pdb/database_writer.h"

#include <fstream>

#include "rules/messages.h"

namespace {

// Expected sizes: createStagedFile keeps the temporary file on the
// database's own file system only when this much (plus slack) is free.
constexpr uint32_t versionSizeHint = 32;
constexpr uint32_t listSizeHint = 1024;
constexpr uint32_t bundleSizeHint = 16;
constexpr uint32_t filesSizeHint = 4096;
constexpr uint32_t stateSizeHint = 8;

// Flushes and closes a staged file; true when everything written reached
// it. A stream that never opened fails here too, with errno left by
// createStagedFile.
bool finish(std::ofstream& out) {
  out.flush();
  if (!out.good()) return false;
  out.close();
  return !out.fail();
}

bool writeTextFile(StagedFiles& staged, const std::string& path, const std::string& text, uint32_t sizeHint) {
  std::ofstream out = createStagedFile(staged, path, sizeHint, 0);
  out << text;
  return finish(out);
}

// Reports a failed meta or state file under its "meta/" name.
bool failed(const InstalledPackage& package, const char* fileName) {
  reportInstallFailure(package, std::string("meta/") + fileName);
  return false;
}

bool writeVersion(const InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  std::string line = std::to_string(package.version) + " " + std::to_string(package.buildTime) + "\n";
  return writeTextFile(staged, dir + "version", line, versionSizeHint);
}

// "provides" and "conflicts" are absent for an empty list; an older
// version's file is removed so that a restore does not bring it back.
bool writeOptionalList(StagedFiles& staged, const std::string& path, const std::vector<DependencyRef>& list,
                       bool withPriority) {
  if (list.empty()) {
    stageDelete(staged, path);
    return true;
  }
  return writeRefList(staged, path, list, withPriority);
}

bool writeBundle(const InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  if (package.bundle.name.empty()) {
    stageDelete(staged, dir + "bundle");
    return true;
  }
  return writeTextFile(staged, dir + "bundle", package.bundle.name + "\n", bundleSizeHint);
}

// One path per line without its leading "/", in the set's order.
bool writeFiles(const InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  std::ofstream out = createStagedFile(staged, dir + "files", filesSizeHint, 0);
  for (const std::string& path : package.files) {
    size_t start = !path.empty() && path[0] == '/' ? 1 : 0;
    if (start == path.size()) continue;
    out.write(path.data() + start, static_cast<std::streamsize>(path.size() - start));
    out.put('\n');
  }
  return finish(out);
}

bool writeMetaFiles(InstalledPackage& package, StagedFiles& staged) {
  std::string dir = packageDir(package);
  if (!writeVersion(package, staged, dir)) return failed(package, "version");
  if (!writeRefList(staged, dir + "deps", package.deps, false)) return failed(package, "deps");
  if (!writeOptionalList(staged, dir + "provides", package.provides, true)) return failed(package, "provides");
  if (!writeOptionalList(staged, dir + "conflicts", package.conflicts, false)) return failed(package, "conflicts");
  if (!writeBundle(package, staged, dir)) return failed(package, "bundle");
  if (!package.isBundle && !writeFiles(package, staged, dir)) return failed(package, "files");
  return true;
}

const char* stateWord(const InstalledPackage& package) { return package.byUser ? "user\n" : "auto\n"; }

// "enabled" exists only for a package the user enabled.
bool writeEnabledState(InstalledPackage& package, StagedFiles& staged, const std::string& dir) {
  if (!package.byUser) {
    stageDelete(staged, dir + "enabled");
    return true;
  }
  if (!writeTextFile(staged, dir + "enabled", "user\n", stateSizeHint)) return failed(package, "enabled");
  return true;
}

void writeStateFiles(InstalledPackage& package, StagedFiles& staged) {
  if (package.disabled) {
    writeDisabledState(package, staged);
    return;
  }
  std::string dir = packageDir(package);
  stageDelete(staged, dir + "disabled");
  writeEnabledState(package, staged, dir);
}

}  // namespace

bool writeRefList(StagedFiles& staged, const std::string& path, const std::vector<DependencyRef>& list,
                  bool withPriority) {
  std::ofstream out = createStagedFile(staged, path, listSizeHint, 0);
  for (const DependencyRef& ref : list) {
    out << ref.name << ' ' << ref.min << ' ' << ref.max;
    if (withPriority) out << ' ' << ref.priority;
    out << '\n';
  }
  return finish(out);
}

bool writePackageMeta(InstalledPackage& package, StagedFiles& staged) {
  bool wantsMeta = !package.bootImageFlag && (package.headerFlags & NoMetaFiles) == 0;
  if (wantsMeta && !writeMetaFiles(package, staged)) return false;
  writeStateFiles(package, staged);
  return true;
}

bool markEnabled(InstalledPackage& package, StagedFiles& staged) {
  std::string dir = packageDir(package);
  stageDelete(staged, dir + "disabled");
  bool written = writeEnabledState(package, staged, dir);
  package.disabled = false;
  package.pending = PendingAction::None;
  return written;
}

bool writeDisabledState(InstalledPackage& package, StagedFiles& staged) {
  std::string dir = packageDir(package);
  stageDelete(staged, dir + "enabled");
  if (!writeTextFile(staged, dir + "disabled", stateWord(package), stateSizeHint)) return failed(package, "disabled");
  return true;
}
