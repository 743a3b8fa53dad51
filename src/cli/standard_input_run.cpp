// Installing one package stream from standard input ("-").
//
// The stream is copied to the image file while it is installed; on success
// the image moves into the package's database directory (or becomes the
// boot image), the marker "/flash/PCKGS_CHANGED" is staged and everything is
// committed. Any failure drops all staged work and the image, so the flash
// keeps the software it had; only the post-run log records what happened.
#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include "cli/postlog.h"
#include "cli/run_modes.h"
#include "cli/stdin_image.h"
#include "package/stream_install.h"
#include "platform/device_paths.h"
#include "rules/acceptance.h"
#include "rules/messages.h"
#include "staging/staged_commit.h"
#include "staging/staged_files.h"

namespace {

constexpr int imageUnavailable = -1;
constexpr int runFailed = 1;

int abandonRun(InstallerState& state, StagedFiles& staged, StdinImage& image, int status) {
  cancelStaged(staged);
  image.remove();
  writePostlog(state);
  return status;
}

// The image becomes the package's database image, or, for a package whose
// image is to be booted, "/flash/bootimage" with the database image a link
// to it. A stream that carried no image leaves nothing worth keeping.
void placeImage(StagedFiles& staged, StdinImage& image, const std::string& directory, bool boot) {
  if (directory.empty()) {
    image.remove();
    return;
  }
  const std::string written = std::string(paths::databaseDir) + "image";
  const std::string imagePath = directory + "image";
  if (!boot) {
    stageMove(staged, written, imagePath);
    return;
  }
  stageMove(staged, written, paths::bootImage);
  stageSymlink(staged, paths::bootImage, imagePath);
}

bool stagePackagesChanged(StagedFiles& staged) {
  std::ofstream marker = createStagedFile(staged, paths::packagesChangedMarker, 1, 0);
  if (!marker.is_open()) return false;
  marker.close();
  return !marker.fail();
}

}  // namespace

int standardInputRun(InstallerState& state, StagedFiles& staged, RunOptions& options) {
  StdinImage image;
  if (!image.isOpen()) {
    std::fputs("ERROR: could not open image\n", stdout);
    std::fflush(stdout);
    cancelStaged(staged);
    return imageUnavailable;
  }
  std::string directory;
  bool boot = false;
  InstalledPackage installed;
  int result = installStream(state, staged, std::cin, options.flags | Upgrade, std::map<std::string, uint8_t>(),
                             image.sink(), &directory, &boot, &installed);
  bool imageComplete = image.finish();
  if (result != StreamInstalled) return abandonRun(state, staged, image, result);
  if (!imageComplete) {
    reportInstallFailure(installed, paths::standardInputImage);
    return abandonRun(state, staged, image, runFailed);
  }
  placeImage(staged, image, directory, boot);
  if (!stagePackagesChanged(staged)) {
    reportInstallFailure(installed, paths::packagesChangedMarker);
    return abandonRun(state, staged, image, runFailed);
  }
  bool committed = commitStaged(staged, false);
  writePostlog(state);
  return committed ? StreamInstalled : runFailed;
}
