#include "staging/commit_preflight.h"

#include <vector>

#include "base/path_text.h"
#include "model/messages.h"

namespace installer {

namespace {

bool isDelete(const StagedFiles& staged, const std::string& path) {
  const StagedOp* op = staged.find(path);
  return op != nullptr && op->kind == StagedKind::Delete;
}

bool refuse(InstallerState& state, const std::string& path, const std::string& blocker, const char* why) {
  error(state, "cannot install %s: %s %s", path.c_str(), blocker.c_str(), why);
  return false;
}

// What stands where a file or link is to go.
bool destinationIsFree(InstallerState& state, const StagedFiles& staged, const std::string& path) {
  FileStatus info;
  if (!staged.env().linkStatus(path, info)) return true;
  if (info.type == FileType::Regular || info.type == FileType::Symlink) return true;
  if (info.type == FileType::Directory && setEmptiesDirectory(staged, path)) return true;
  return refuse(state, path, path, "is in the way");
}

// Every directory above `path` exists, or is missing and can be made, or
// is a file the set removes first.
bool parentsCanHold(InstallerState& state, const StagedFiles& staged, const std::string& path) {
  Env& env = staged.env();
  for (std::string dir = parentDirectory(path); dir != "/" && dir != "."; dir = parentDirectory(dir)) {
    FileStatus info;
    if (env.status(dir, info) && info.type == FileType::Directory) return true;
    if (!env.linkStatus(dir, info)) continue;  // missing: made at commit
    if (info.type != FileType::Directory && isDelete(staged, dir)) continue;
    return refuse(state, path, dir, "is not a directory");
  }
  return true;
}

// A move's source; with `resume`, `done` tells that it was moved already.
bool sourceIsThere(InstallerState& state, Env& env, const std::string& path, const std::string& source, bool resume,
                   bool& done) {
  FileStatus info;
  done = false;
  if (env.linkStatus(source, info)) {
    if (info.type == FileType::Regular || info.type == FileType::Symlink) return true;
    return refuse(state, path, source, "is not a file");
  }
  done = resume && env.linkStatus(path, info);
  return done || refuse(state, path, source, "is missing");
}

}  // namespace

bool setEmptiesDirectory(const StagedFiles& staged, const std::string& path) {
  std::vector<std::string> names;
  if (!staged.env().listDirectory(path, names)) return false;
  for (const std::string& name : names) {
    std::string child = path + "/" + name;
    if (!isDelete(staged, child) || staged.env().isDirectory(child)) return false;
  }
  return true;
}

bool preflightCommit(InstallerState& state, StagedFiles& staged, bool resume) {
  std::vector<std::string> done;
  for (const auto& entry : staged.entries) {
    const std::string& path = entry.first;
    const StagedOp& op = entry.second;
    if (op.kind == StagedKind::Delete) continue;
    if (op.kind == StagedKind::Move || op.kind == StagedKind::Write) {
      bool moved = false;
      if (!sourceIsThere(state, staged.env(), path, op.target, resume, moved)) return false;
      if (moved) {
        done.push_back(path);
        continue;
      }
    }
    if (!destinationIsFree(state, staged, path) || !parentsCanHold(state, staged, path)) return false;
  }
  for (const std::string& path : done) staged.entries.erase(path);
  return true;
}

}  // namespace installer
