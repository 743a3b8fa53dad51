#include "staging/commit_steps.h"

#include <map>
#include <memory>
#include <set>

#include "base/path_text.h"
#include "platform/crypto.h"
#include "staging/staged_files.h"

namespace installer {

namespace {

// A file being written whose SHA-256 and length are taken on the way.
class DigestingFile : public WritableFile {
 public:
  explicit DigestingFile(std::unique_ptr<WritableFile> file) : inner(std::move(file)), sha(Digest::Sha256) {}
  Status append(const char* bytes, size_t n) override {
    Status written = inner->append(bytes, n);
    if (!written.isOk()) return written;
    sha.update(bytes, n);
    length += n;
    return Status::ok();
  }
  Status sync() override { return inner->sync(); }
  Status close() override { return inner->close(); }
  // Whether what was written is `size` bytes with `digest`.
  bool holds(uint64_t size, const Sha256& digest) {
    Sha256 taken{};
    sha.finish(taken.data());
    return length == size && taken == digest;
  }

 private:
  std::unique_ptr<WritableFile> inner;
  Digest sha;
  uint64_t length = 0;
};

std::string keyOf(const std::string& path) {
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

// The failure of a system call as the commit shows it: named by the call.
Status asCall(const char* call, const Status& failure) { return Status(failure.kind(), call, failure.reason()); }

enum class CopyOutcome { Done, SourceUnusable, Failed };

class Runner {
 public:
  Runner(Env& fileSystem, const CommitPlan& steps, Spinner* copySpinner, PackageContents* packageContents)
      : env(fileSystem), plan(steps), spinner(copySpinner), contents(packageContents) {
    for (const CommitStep& step : plan.steps) {
      if (step.kind != StepKind::Remove) spared.insert(keyOf(step.path));
      if (step.kind == StepKind::Rename) spared.insert(keyOf(step.source));
      if (step.kind == StepKind::Link) linkTexts[step.path] = step.source;
    }
  }

  std::vector<StepFailure> run() {
    for (const CommitStep& step : plan.steps) {
      if (step.kind != StepKind::Copy) remakePending();
      carryOut(step);
    }
    remakePending();
    return failures;
  }

 private:
  void fail(const std::string& path, const std::string& reason, const Status& call = Status()) {
    failures.push_back(StepFailure{path, reason, call});
  }

  void carryOut(const CommitStep& step) {
    switch (step.kind) {
      case StepKind::Remove:
        remove(step);
        break;
      case StepKind::Link:
        link(step);
        break;
      case StepKind::Rename:
        rename(step);
        break;
      case StepKind::Copy:
        copy(step);
        break;
    }
  }

  // A directory standing where a file or link goes has been emptied by the
  // removals; it gives way now.
  void clearEmptiedDirectory(const std::string& path) {
    FileStatus info;
    if (env.linkStatus(path, info).isOk() && info.type == FileType::Directory)
      static_cast<void>(env.removeDirectory(path));
  }

  // Only what the plan saw there goes. A directory loses its visible files
  // (not those the plan puts there or moves away) and goes when nothing is
  // left; whatever cannot be removed stays, as it always has.
  void remove(const CommitStep& step) {
    FileStatus info;
    std::string path = keyOf(step.path);
    if (!env.linkStatus(path, info).isOk() || info.inode != step.inode) return;
    if (info.type != FileType::Directory) {
      static_cast<void>(env.removeFile(path));
      return;
    }
    std::vector<std::string> names;
    if (env.listDirectory(path, names).isOk()) {
      for (const std::string& name : names) {
        std::string child = path + "/" + name;
        if (name[0] == '.' || spared.count(child) != 0) continue;
        FileStatus inside;
        if (env.linkStatus(child, inside).isOk() && inside.type != FileType::Directory)
          static_cast<void>(env.removeFile(child));
      }
    }
    static_cast<void>(env.removeDirectory(path));
  }

  void link(const CommitStep& step) {
    std::string present;
    if (env.readSymlink(step.path, present).isOk() && present == step.source) return;
    makeDirectories(env, parentDirectory(step.path));
    clearEmptiedDirectory(step.path);
    static_cast<void>(env.removeFile(step.path));  // whatever stood there gives way
    Status made = env.makeSymlink(step.source, step.path);
    if (!made.isOk()) fail(step.path, made.reason(), asCall("symlink", made));
  }

  // The file the rename moves: the inode recorded, or, for a link the plan
  // makes first, a link with that link's text.
  bool isMoved(const CommitStep& step, const std::string& path) {
    FileStatus info;
    if (!env.linkStatus(path, info).isOk()) return false;
    if (step.inode != 0) return info.inode == step.inode;
    std::string text;
    auto made = linkTexts.find(step.source);
    return info.type == FileType::Symlink && made != linkTexts.end() && env.readSymlink(path, text).isOk() &&
           text == made->second;
  }

  // A package file that a copy could not be made from again stays where
  // it is, for another try.
  bool keptForRetry(const CommitStep& step) {
    for (int package : failedPackages) {
      if (plan.packages[static_cast<size_t>(package)].path == step.source) return true;
    }
    return false;
  }

  void rename(const CommitStep& step) {
    if (keptForRetry(step)) {
      fail(step.path, step.source + " is kept where it is, for another try");
      return;
    }
    if (!isMoved(step, step.source)) {
      if (!isMoved(step, step.path)) fail(step.path, step.source + " is gone");
      return;
    }
    FileStatus info;
    if (!env.linkStatus(step.source, info).isOk() ||
        (info.type != FileType::Regular && info.type != FileType::Symlink)) {
      fail(step.path, step.source + " is not a file");
      return;
    }
    clearEmptiedDirectory(step.path);
    makeDirectories(env, parentDirectory(step.path));
    Status renamed = env.rename(step.source, step.path);
    if (!renamed.isOk()) fail(step.path, renamed.reason(), asCall("rename", renamed));
  }

  bool holdsContents(const std::string& path, uint64_t size, const Sha256& digest) {
    FileStatus info;
    if (!env.linkStatus(path, info).isOk() || info.type != FileType::Regular || info.size != size) return false;
    uint64_t length = 0;
    Sha256 found{};
    return measureFile(env, path, length, found).isOk() && length == size && found == digest;
  }

  // Puts a complete copy in place: the step's mode, then the rename.
  CopyOutcome putInPlace(const CommitStep& step, DigestingFile& file) {
    Status closed = file.close();
    if (!closed.isOk()) return failWith(step, closed.reason());
    static_cast<void>(env.changeMode(step.temporary, step.mode));  // a file left 0600 still works
    Status renamed = env.rename(step.temporary, step.path);
    if (renamed.isOk()) return CopyOutcome::Done;
    return failWith(step, renamed.reason(), asCall("rename", renamed));
  }

  CopyOutcome failWith(const CommitStep& step, const std::string& reason, const Status& call = Status()) {
    static_cast<void>(env.removeFile(step.temporary));
    fail(step.path, reason, call);
    return CopyOutcome::Failed;
  }

  Status openTemporary(const CommitStep& step, std::unique_ptr<DigestingFile>& digesting) {
    std::unique_ptr<WritableFile> file;
    Status opened = env.openWritable(step.temporary, WriteMode::CreateNew, 0600, file);
    if (opened.isOk()) digesting = std::make_unique<DigestingFile>(std::move(file));
    return opened;
  }

  CopyOutcome copyFromSource(const CommitStep& step) {
    FileStatus info;
    if (!env.status(step.source, info).isOk() || info.type != FileType::Regular || info.size != step.size) {
      return CopyOutcome::SourceUnusable;
    }
    std::unique_ptr<DigestingFile> file;
    Status opened = openTemporary(step, file);
    if (!opened.isOk()) return failWith(step, opened.reason());
    bool writeFailed = false;
    Status copied = copyFile(env, step.source, *file, spinner, writeFailed);
    if (writeFailed) return failWith(step, copied.reason(), asCall(" write failed", copied));
    if (!copied.isOk()) {
      static_cast<void>(env.removeFile(step.temporary));
      return CopyOutcome::SourceUnusable;
    }
    if (!file->holds(step.size, step.digest)) {
      static_cast<void>(env.removeFile(step.temporary));
      return CopyOutcome::SourceUnusable;  // changed since the plan: not these contents
    }
    return putInPlace(step, *file);
  }

  void copy(const CommitStep& step) {
    if (holdsContents(step.path, step.size, step.digest)) {
      FileStatus info;
      if (env.linkStatus(step.path, info).isOk() && (info.mode & 07777) != step.mode) {
        static_cast<void>(env.changeMode(step.path, step.mode));
      }
      static_cast<void>(env.removeFile(step.temporary));
      return;
    }
    static_cast<void>(env.removeFile(step.temporary));  // a copy cut short
    // The old contents are not needed any more: the new ones are certain
    // from here on, and the room they leave takes the copy.
    clearEmptiedDirectory(step.path);
    static_cast<void>(env.removeFile(step.path));
    makeDirectories(env, parentDirectory(step.path));
    if (copyFromSource(step) != CopyOutcome::SourceUnusable) return;
    if (step.package >= 0 && contents != nullptr) {
      pending[step.package].push_back(&step);
      return;
    }
    fail(step.path, step.source + " is gone");
  }

  // Makes the pending copies again from their package files, one read of
  // each file for all its copies.
  void remakePending() {
    for (auto& entry : pending) remakeFrom(entry.first, entry.second);
    pending.clear();
  }

  void remakeFrom(int index, const std::vector<const CommitStep*>& steps) {
    const PackageFileRef& package = plan.packages[static_cast<size_t>(index)];
    size_t before = failures.size();
    remakeEach(package, steps);
    if (failures.size() != before) failedPackages.insert(index);
  }

  void remakeEach(const PackageFileRef& package, const std::vector<const CommitStep*>& steps) {
    uint64_t length = 0;
    Sha256 digest{};
    if (!measureFile(env, package.path, length, digest).isOk() || length != package.length ||
        digest != package.digest) {
      for (const CommitStep* step : steps) fail(step->path, "its package file " + package.path + " is gone or changed");
      return;
    }
    std::vector<std::unique_ptr<DigestingFile>> files;
    std::vector<PackageContents::Wanted> wanted;
    std::vector<const CommitStep*> made;
    for (const CommitStep* step : steps) {
      std::unique_ptr<DigestingFile> file;
      Status opened = openTemporary(*step, file);
      if (!opened.isOk()) {
        fail(step->path, opened.reason());
        continue;
      }
      wanted.push_back(PackageContents::Wanted{step->member, step->record, file.get(), false});
      files.push_back(std::move(file));
      made.push_back(step);
    }
    std::string why;
    bool verified = contents->extract(env, package.path, wanted, why);
    for (size_t i = 0; i < made.size(); ++i) {
      const CommitStep& step = *made[i];
      if (!verified) {
        failWith(step, "cannot be made again from " + package.path + ": " + why);
      } else if (!wanted[i].written || !files[i]->holds(step.size, step.digest)) {
        failWith(step, "made again from " + package.path + ", it differs from what was staged");
      } else {
        putInPlace(step, *files[i]);
      }
    }
  }

  Env& env;
  const CommitPlan& plan;
  Spinner* spinner;
  PackageContents* contents;
  std::set<std::string> spared;
  std::map<std::string, std::string> linkTexts;
  std::map<int, std::vector<const CommitStep*>> pending;
  std::set<int> failedPackages;
  std::vector<StepFailure> failures;
};

}  // namespace

std::vector<StepFailure> carryOutPlan(Env& env, const CommitPlan& plan, Spinner* spinner, PackageContents* contents) {
  return Runner(env, plan, spinner, contents).run();
}

}  // namespace installer
