#include "staging/commit_preflight.h"

#include <map>
#include <set>

#include "base/path_text.h"
#include "model/installer_files.h"
#include "model/messages.h"

namespace installer {

namespace {

enum class Node { Absent, File, Link, Directory, Other };

std::string keyOf(const std::string& path) {
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

// The file system as the steps played so far leave it.
class Model {
 public:
  Model(Env& fileSystem, PlanEffects* out) : env(fileSystem), effects(out) {}

  std::set<std::string> spared;  // paths a removal of their directory leaves alone

  Node look(const std::string& path) {
    std::string key = keyOf(path);
    auto found = overlay.find(key);
    if (found != overlay.end()) return found->second.node;
    // Below anything the plan has changed (a file, a removal, a directory it
    // makes) there is only what the plan itself put there.
    for (std::string up = parentDirectory(key); up != "/" && up != "."; up = parentDirectory(up)) {
      if (overlay.count(up) != 0) return Node::Absent;
    }
    FileStatus info;
    if (!env.linkStatus(key, info).isOk()) return Node::Absent;
    return nodeOf(info.type);
  }
  bool removedByPlan(const std::string& path) {
    auto found = overlay.find(keyOf(path));
    return found != overlay.end() && found->second.removed;
  }
  std::vector<std::string> children(const std::string& path) {
    std::string key = keyOf(path);
    std::set<std::string> names;
    std::vector<std::string> listed;
    if (look(key) == Node::Directory && env.listDirectory(key, listed).isOk())
      names.insert(listed.begin(), listed.end());
    std::string prefix = key + "/";
    for (auto it = overlay.lower_bound(prefix); it != overlay.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
      std::string rest = it->first.substr(prefix.size());
      if (rest.find('/') == std::string::npos) names.insert(rest);
    }
    std::vector<std::string> present;
    for (const std::string& name : names) {
      if (look(prefix + name) != Node::Absent) present.push_back(prefix + name);
    }
    return present;
  }
  // `path` becomes `node`; `counted`: an inode standing there goes away
  // (a rename's source only moves).
  void set(const std::string& path, Node node, bool removed = false, bool counted = true) {
    std::string key = keyOf(path);
    if (counted && node == Node::Absent && look(key) != Node::Absent && effects) effects->freed.push_back(key);
    overlay[key] = Entry{node, removed};
  }
  void created(const std::string& path) {
    if (effects) effects->created.push_back(path);
  }

 private:
  struct Entry {
    Node node;
    bool removed;  // taken away by a removal of the plan
  };
  static Node nodeOf(FileType type) {
    switch (type) {
      case FileType::Regular:
        return Node::File;
      case FileType::Symlink:
        return Node::Link;
      case FileType::Directory:
        return Node::Directory;
      case FileType::Other:
        break;
    }
    return Node::Other;
  }

  Env& env;
  PlanEffects* effects;
  std::map<std::string, Entry> overlay;
};

class Check {
 public:
  Check(InstallerState& runState, const CommitPlan& checked, PlanEffects* effects)
      : state(runState), plan(checked), model(runState.env, effects) {
    for (const CommitStep& step : plan.steps) {
      if (step.kind != StepKind::Remove) model.spared.insert(keyOf(step.path));
      if (step.kind == StepKind::Rename) model.spared.insert(keyOf(step.source));
    }
  }

  bool run() {
    for (const CommitStep& step : plan.steps) {
      if (!play(step)) return false;
    }
    return true;
  }

 private:
  bool refuse(const std::string& path, const std::string& what) {
    error(state, "cannot install %s: %s", path.c_str(), what.c_str());
    return false;
  }

  bool play(const CommitStep& step) {
    if (!isCleanPathBelow(step.path, "/flash/")) return refuse(step.path, "outside /flash/");
    if (isInstallerOwnPath(step.path)) return refuse(step.path, "a name the installer keeps for itself");
    switch (step.kind) {
      case StepKind::Remove:
        remove(step.path);
        return true;
      case StepKind::Link:
        return parentsCanHold(step.path) && place(step.path, Node::Link, true);
      case StepKind::Rename:
        return rename(step);
      case StepKind::Copy:
        return copy(step);
    }
    return true;
  }

  void remove(const std::string& path) {
    Node node = model.look(path);
    if (node == Node::Absent) return;
    if (node != Node::Directory) {
      model.set(path, Node::Absent, true);
      return;
    }
    // Its visible files go; what else stays keeps the directory.
    for (const std::string& child : model.children(path)) {
      if (baseName(child)[0] == '.' || model.spared.count(child) != 0) continue;
      if (model.look(child) != Node::Directory) model.set(child, Node::Absent, true);
    }
    if (model.children(path).empty()) model.set(path, Node::Absent, true);
  }

  // Every directory above `path` is one, or is missing and is made.
  bool parentsCanHold(const std::string& path) {
    std::vector<std::string> missing;
    for (std::string up = parentDirectory(keyOf(path)); up != "/" && up != "."; up = parentDirectory(up)) {
      Node node = model.look(up);
      if (node == Node::Directory || (node == Node::Link && state.env.isDirectory(up))) break;
      if (node != Node::Absent) return refuse(path, up + " is not a directory");
      missing.push_back(up);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      model.set(*it, Node::Directory);
      model.created(*it);
    }
    return true;
  }

  // A file or link goes to `path`: a file or link gives way, and a
  // directory the plan has emptied; nothing else (a FIFO, a device).
  // `fresh`: it is a new inode (a link, a copy), not one moved in.
  bool place(const std::string& path, Node node, bool fresh) {
    Node there = model.look(path);
    if (there == Node::Other || (there == Node::Directory && !model.children(path).empty())) {
      return refuse(path, path + " is in the way");
    }
    if (there != Node::Absent) model.set(path, Node::Absent);
    if (fresh) model.created(keyOf(path));
    model.set(path, node);
    return true;
  }

  bool rename(const CommitStep& step) {
    Node source = model.look(step.source);
    if (source == Node::Absent) {
      return refuse(step.path, step.source + (model.removedByPlan(step.source) ? " is removed first" : " is missing"));
    }
    if (source != Node::File && source != Node::Link) return refuse(step.path, step.source + " is not a file");
    // A file copied beside its destination first is a new inode there.
    if (!parentsCanHold(step.path) || !place(step.path, source, step.copyFirst)) return false;
    model.set(step.source, Node::Absent, false, false);
    return true;
  }

  bool copy(const CommitStep& step) {
    FileStatus info;
    if (!state.env.status(step.source, info).isOk()) return refuse(step.path, step.source + " is missing");
    if (info.type != FileType::Regular) return refuse(step.path, step.source + " is not a file");
    return parentsCanHold(step.path) && place(step.path, Node::File, true);
  }

  InstallerState& state;
  const CommitPlan& plan;
  Model model;
};

}  // namespace

bool preflightCommit(InstallerState& state, const CommitPlan& plan, PlanEffects* effects) {
  return Check(state, plan, effects).run();
}

}  // namespace installer
