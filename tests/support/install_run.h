// A throw-away device for the tests of the rules and install layers: one
// state and one staged set per test. The system library is opened on the
// root as a device whose device mode takes system packages 7.0 to 7.5 only
// and which asks for a system of 7.2 at least.
#pragma once

#include <gtest/gtest.h>

#include <sstream>

#include "install/stream_install.h"
#include "platform/system_library.h"
#include "rules/acceptance.h"
#include "support/recorded_output.h"
#include "support/router_device.h"
#include "support/test_packages.h"

namespace installer {

// Looks into no image: only the image of a package file whose name begins
// "marked" holds the file asked for.
class ImageEnv : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  ImageFileResult findFileInImage(const std::string& file, uint32_t, const std::string&, const std::string&,
                                  Status&) override {
    return file.find("/marked") != std::string::npos ? ImageFileResult::Present : ImageFileResult::Absent;
  }
};

// A signed package `name` of `version` carrying bin/<name> with "hi";
// `edit` changes the recipe first.
inline std::string pkg(const std::string& name, PackageVersion version, void (*edit)(PackageRecipe&) = nullptr,
                       const FileRecipe& file = {}) {
  PackageRecipe recipe = packageRecipe(name, version, {fileEntry("bin/" + name, "hi")});
  if (edit) edit(recipe);
  return signedPackage(recipe, file);
}

class InstallRun : public testing::Test {
 protected:
  // Settings: not flagged; device mode: no system package but one of 7.0 to 7.5; minimum system 7.2.
  InstallRun() {
    state.architecture = "i386";
    openSystemLibrary(root, {false, false, {{v(7, 0), v(7, 5), 0, 0xFFFFFFFF, 0}}, v(7, 2)});
  }
  // The library must not keep the device once it is gone.
  ~InstallRun() override { openSystemLibrary(Env::posix(), SystemSettings()); }

  // Installs `bytes` as one stream; what it prints (the progress bar among
  // it) stays in `output`.
  StreamInstallResult run(const std::string& bytes, uint32_t flags = Upgrade, UserChoices choices = {}) {
    std::istringstream input(bytes);
    return installStream(state, staged, input, {flags, std::move(choices), nullptr});
  }

  // The enabled state of every record (as enabledOf), then the staged
  // changes, each path without "/flash/": "path=contents" for a written
  // file, "path:delete" for a removal; of the meta files only "version" is
  // shown, by its name. Then each message said, on a line of its own.
  std::string summary() const {
    std::string text = enabledOf(state) + " |";
    for (const auto& [path, op] : staged.entries) {
      std::string shown = path.substr(7), name = shown.substr(shown.rfind('/') + 1);
      if (shown.rfind("var/pdb/", 0) == 0 && (name == "deps" || name == "files" || name == "bundle")) continue;
      text += " " + shown;
      std::string contents;
      if (op.kind != StagedKind::Delete) {
        EXPECT_TRUE(root.read(op.target, contents)) << op.target;
      }
      if (name != "version") text += op.kind == StagedKind::Delete ? ":delete" : "=" + contents;
    }
    for (const std::string& message : state.messages) text += "\n" + message;
    return text;
  }

  std::unique_ptr<SimulatedDevice> storage = routerDevice(4096, 1 << 20);
  SimulatedDevice& root = *storage;
  ImageEnv env{root};
  RecordedOutput output;
  InstallerState state{env, output};
  StagedFiles staged{root};
};

}  // namespace installer
