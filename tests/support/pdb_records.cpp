#include "support/pdb_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "model/installed_files.h"
#include "pdb/database_loader.h"
#include "support/recorded_output.h"
#include "support/router_device.h"

namespace installer {

namespace {

// NAME[:MIN:MAX[:PRIORITY]]
DependencyRef refOf(const std::string& text) {
  DependencyRef r;
  char name[32] = "";
  std::sscanf(text.c_str(), "%31[^:]:%u:%u:%d", name, &r.min, &r.max, &r.priority);
  r.name = name;
  return r;
}

// Lists directories in reverse name order: an order of its own, which the
// loader must keep, and the same on every file system.
class ReverseListing : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  Status listDirectory(const std::string& path, std::vector<std::string>& names) override {
    Status listed = target().listDirectory(path, names);
    std::sort(names.rbegin(), names.rend());
    return listed;
  }
};

std::string refText(const char* kind, const DependencyRef& r, bool withPriority) {
  std::string text = std::string(" ") + kind + "=" + r.name + ":" + std::to_string(r.min) + ":" + std::to_string(r.max);
  return withPriority ? text + ":" + std::to_string(r.priority) : text;
}

}  // namespace

void addRecords(InstallerState& state, const std::string& description) {
  std::stringstream records(description);
  std::string record, name, word;
  while (std::getline(records, record, ';')) {
    std::istringstream words(record);
    words >> name;
    InstalledPackage& p = addRecord(state, name, v(1, 0));
    while (words >> word) {
      size_t eq = word.find('=');
      std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
      for (PendingAction action : {PendingAction::Uninstall, PendingAction::Enable, PendingAction::Disable}) {
        if (key == pendingActionWord(action)) p.pending = action;
      }
      unsigned major = 0, minor = 0;
      if (key == "v" && std::sscanf(value.c_str(), "%u.%u", &major, &minor) == 2) p.version = v(major, minor);
      if (key == "off") p.disabled = true;
      if (key == "user") p.byUser = true;
      if (key == "bundle") p.isBundle = true;
      if (key == "boot") p.bootImageFlag = true;
      if (key == "nometa") p.headerFlags |= NoMetaFiles;
      if (key == "in") p.bundle = refOf(value);
      if (key == "has") p.children.emplace_back(p).name = value;
      if (key == "needs") p.deps.push_back(refOf(value));
      if (key == "provides") p.provides.push_back(refOf(value));
      if (key == "excludes") p.conflicts.push_back(refOf(value));
      if (key == "file") p.files.insert(value);
    }
  }
}

std::string describeRecords(InstallerState& state) {
  std::string out;
  for (const auto& p : state.packages) {
    readInstalledFiles(state.env, *p);
    out += p->name + " " + std::to_string(p->version) + " " + std::to_string(p->buildTime);
    if (p->isBundle) out += " bundle";
    if (!p->bundle.name.empty()) out += refText("in", p->bundle, false);
    if (p->disabled) out += " off";
    if (p->byUser) out += " user";
    if (p->pending != PendingAction::None) out += std::string(" ") + pendingActionWord(p->pending);
    for (const DependencyRef& r : p->deps) out += refText("needs", r, false);
    for (const DependencyRef& r : p->provides) out += refText("provides", r, true);
    for (const DependencyRef& r : p->conflicts) out += refText("excludes", r, false);
    for (const std::string& file : p->files) out += " file=" + file;
    out += "\n";
  }
  return out;
}

void writeFiles(SimulatedDevice& device, const std::string& dir, const std::string& files) {
  std::stringstream entries(files);
  std::string entry;
  while (std::getline(entries, entry, ';')) {
    size_t eq = entry.find('=');
    std::string contents = entry.substr(eq + 1);
    std::replace(contents.begin(), contents.end(), '|', '\n');
    std::string path = entry[0] == '/' ? entry.substr(0, eq) : dir + entry.substr(0, eq);
    EXPECT_TRUE(device.addFile(path, contents)) << path;
  }
}

std::string loadedFrom(const std::string& files, const Images& images) {
  auto device = routerDevice(4096, 1 << 20);
  writeFiles(*device, paths::databaseDir, files);
  for (const auto& [path, bytes] : images) EXPECT_TRUE(device->addFile(path, bytes)) << path;
  ReverseListing env(*device);
  RecordedOutput output;
  InstallerState state(env, output);
  loadDatabase(state, false, "i386");
  return describeRecords(state) + output.printed;
}

std::string stagedOf(SimulatedDevice& device, const StagedFiles& staged) {
  const std::string db = paths::databaseDir;
  std::string out;
  for (const auto& [path, op] : staged.entries) {
    std::string shown = path.rfind(db, 0) == 0 ? path.substr(db.size()) : path;
    if (op.kind == StagedKind::Delete) shown = "-" + shown;
    std::string contents;
    if (op.kind == StagedKind::Write) shown += "=" + (device.read(op.target, contents) ? contents : "");
    FileStatus info{};
    if (op.kind == StagedKind::Write && device.status(op.target, info).isOk() && (info.mode & 07777) != 0600) {
      shown += "(not 0600)";
    }
    out += (out.empty() ? "" : " ") + shown;
  }
  std::replace(out.begin(), out.end(), '\n', '|');
  return out;
}

}  // namespace installer
