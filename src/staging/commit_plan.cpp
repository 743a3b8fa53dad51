#include "staging/commit_plan.h"

#include <algorithm>
#include <map>
#include <memory>

#include "base/path_text.h"
#include "platform/crypto.h"
#include "staging/temporary_files.h"

namespace installer {

namespace {

constexpr size_t readChunk = 65536;

int priority(StagedKind kind) {
  if (kind == StagedKind::Delete) return 0;
  return kind == StagedKind::Symlink ? 1 : 2;
}

bool isMove(StagedKind kind) {
  return kind == StagedKind::Move || kind == StagedKind::Write || kind == StagedKind::Copy;
}

// The set's entries by clean path. Where two entries name one file
// ("/flash/./bin/x" and "/flash/bin/x"), the one a commit in passes would
// leave there wins: a file moved in over a link, a link over a removal,
// and of two alike the later in path order.
std::map<std::string, const StagedOp*> entriesByCleanPath(const StagedFiles& staged) {
  std::map<std::string, const StagedOp*> byPath;
  for (const auto& entry : staged.entries) {
    const StagedOp*& slot = byPath[normalizedPath(entry.first)];
    if (slot == nullptr || priority(entry.second.kind) >= priority(slot->kind)) slot = &entry.second;
  }
  return byPath;
}

int packageIndex(CommitPlan& plan, const std::string& path) {
  for (size_t i = 0; i < plan.packages.size(); ++i) {
    if (plan.packages[i].path == path) return static_cast<int>(i);
  }
  plan.packages.push_back(PackageFileRef{path, 0, Sha256{}});
  return static_cast<int>(plan.packages.size() - 1);
}

// A move whose source lies on another file system than its destination.
void planCopy(const StagedFiles& staged, const StagedOp& op, const FileStatus& source, CommitPlan& plan,
              CommitStep& step) {
  Env& env = staged.env();
  FileStatus existing;
  bool replacesFile = env.linkStatus(step.path, existing).isOk() && existing.type == FileType::Regular;
  step.replacedSize = replacesFile ? existing.size : 0;
  step.size = source.size;
  // An existing file keeps its permissions, a new one takes the source's.
  step.mode = (replacesFile ? existing.mode : source.mode) & 07777;
  if (!isVolatilePath(step.source)) {
    step.kind = StepKind::Copy;  // the source stays where it is
  } else if (op.origin.file >= 0 && static_cast<size_t>(op.origin.file) < staged.packageFiles.size()) {
    step.kind = StepKind::Copy;
    step.package = packageIndex(plan, staged.packageFiles[static_cast<size_t>(op.origin.file)]);
    step.member = op.origin.member;
    step.record = op.origin.record;
  } else {
    step.kind = StepKind::Rename;  // copied beside the path before anything changes
    step.copyFirst = true;
  }
  step.temporary = copyDirectory(step.path) + "/tmpXXXXXX";
}

CommitStep planMove(const StagedFiles& staged, const std::string& path, const StagedOp& op, CommitPlan& plan) {
  Env& env = staged.env();
  CommitStep step;
  step.kind = StepKind::Rename;
  step.path = path;
  step.source = normalizedPath(op.target);
  FileStatus source, followed;
  uint64_t device = 0;
  // Missing: a link the work makes first, or nothing (the check says which).
  if (!env.linkStatus(step.source, source).isOk()) return step;
  step.inode = source.inode;
  if (!destinationDevice(env, path, device) || device == source.device) return step;
  if (!env.status(step.source, followed).isOk()) return step;  // a dangling link: the check refuses it
  planCopy(staged, op, followed, plan, step);
  return step;
}

CommitStep planEntry(const StagedFiles& staged, const std::string& path, const StagedOp& op, CommitPlan& plan) {
  if (isMove(op.kind)) return planMove(staged, path, op, plan);
  CommitStep step;
  step.path = path;
  if (op.kind == StagedKind::Symlink) {
    step.kind = StepKind::Link;
    step.source = op.target;
  } else {
    step.kind = StepKind::Remove;
  }
  return step;
}

bool feedsCopies(const CommitPlan& plan, const CommitStep& step) {
  if (step.kind != StepKind::Rename) return false;
  for (const PackageFileRef& package : plan.packages) {
    if (package.path == step.source) return true;
  }
  return false;
}

int64_t growth(const CommitStep& step) {
  return static_cast<int64_t>(step.size) - static_cast<int64_t>(step.replacedSize);
}

// Removals and links; renames; copies, smallest growth first; renames of
// the package files the copies may have to be made from again.
void order(CommitPlan& plan) {
  auto rank = [&plan](const CommitStep& step) {
    if (step.kind == StepKind::Remove || step.kind == StepKind::Link) return 0;
    if (step.kind == StepKind::Copy) return 2;
    return feedsCopies(plan, step) ? 3 : 1;
  };
  std::stable_sort(plan.steps.begin(), plan.steps.end(), [&rank](const CommitStep& a, const CommitStep& b) {
    int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb;
    return ra == 2 && growth(a) < growth(b);
  });
}

Status measure(Env& env, CommitPlan& plan) {
  for (PackageFileRef& package : plan.packages) {
    Status measured = measureFile(env, package.path, package.length, package.digest);
    if (!measured.isOk()) return measured;
  }
  for (CommitStep& step : plan.steps) {
    if (step.kind != StepKind::Copy) continue;
    uint64_t length = 0;
    Status measured = measureFile(env, step.source, length, step.digest);
    if (!measured.isOk()) return measured;
    step.size = length;
  }
  return Status::ok();
}

}  // namespace

std::string copyDirectory(const std::string& path) { return parentDirectory(path); }

Status measureFile(Env& env, const std::string& path, uint64_t& length, Sha256& digest) {
  std::unique_ptr<ReadableFile> file;
  Status opened = env.openReadable(path, ReadLimits{true, true}, file);
  if (!opened.isOk()) return opened;
  Digest sha256(Digest::Sha256);
  std::vector<char> buffer(readChunk);
  length = 0;
  for (;;) {
    size_t n = 0;
    Status read = file->read(buffer.data(), buffer.size(), n);
    if (!read.isOk()) return read;
    if (n == 0) break;
    sha256.update(buffer.data(), n);
    length += n;
  }
  sha256.finish(digest.data());
  return Status::ok();
}

Status planCommit(const StagedFiles& staged, bool measureFiles, CommitPlan& plan) {
  Env& env = staged.env();
  plan = CommitPlan();
  for (const auto& entry : entriesByCleanPath(staged)) {
    CommitStep step = planEntry(staged, entry.first, *entry.second, plan);
    FileStatus info;
    if (step.kind == StepKind::Remove) {
      // Nothing there: nothing to do. What is there is named by its inode,
      // so that a run finishing the commit removes only that.
      if (!env.linkStatus(step.path, info).isOk()) continue;
      step.inode = info.inode;
    }
    plan.steps.push_back(step);
  }
  order(plan);
  return measureFiles ? measure(env, plan) : Status::ok();
}

Sha256 sha256Of(const std::string& bytes) {
  Digest digest(Digest::Sha256);
  digest.update(bytes.data(), bytes.size());
  Sha256 result{};
  digest.finish(result.data());
  return result;
}

bool destinationDevice(Env& env, const std::string& path, uint64_t& device) {
  return !nearestAncestor(path, [&env, &device](const std::string& directory) {
            FileStatus info;
            if (!env.status(directory, info).isOk()) return false;
            device = info.device;
            return true;
          }).empty();
}

}  // namespace installer
