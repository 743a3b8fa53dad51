// Installing one package stream from standard input ("-").
//
// The stream is copied to the image file while it is installed; on success
// the image moves into the package's database directory (or becomes the
// boot image), the marker "/flash/PCKGS_CHANGED" is staged and everything is
// committed. Any failure drops all staged work and the image, so the flash
// keeps the software it had; only the post-run log records what happened.
#include "cli/standard_input_run.h"

#include <cstdio>
#include <string>

#include "cli/postlog.h"
#include "cli/stdin_image.h"
#include "cli/upgrade_mode_run.h"
#include "install/package_rebuild.h"
#include "install/stream_install.h"
#include "model/messages.h"
#include "platform/device_paths.h"
#include "rules/acceptance.h"
#include "staging/staged_commit.h"
#include "staging/staged_files.h"
#include "staging/temporary_files.h"

namespace installer {

namespace {

// The log is the last thing the run does; there is nowhere left to say that
// it could not be written.
void finishLog(InstallerState& state) { static_cast<void>(writePostlog(state)); }

int abandonRun(InstallerState& state, StagedFiles& staged, StdinImage& image, ExitStatus status) {
  image.remove();
  cancelStaged(staged);
  removeRunLeftovers(state.env);
  finishLog(state);
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
  stageImage(staged, image.path(), directory + "image", boot);
}

}  // namespace

int standardInputRun(InstallerState& state, StagedFiles& staged, RunOptions& options, std::istream& input) {
  StdinImage image(staged);
  if (!image.isOpen()) {
    state.output.write("ERROR: could not open image\n");
    state.output.flush();
    cancelStaged(staged);
    return ExitImageUnavailable;
  }
  StreamInstallRequest request;
  request.flags = options.flags | Upgrade;
  request.copySink = image.sink();
  // The copy of the stream is the package file that files staged in "/ram"
  // can be made again from, when it is kept (a package with an image); the
  // other files in "/ram" are copied beside their places before the commit.
  staged.readingPackageFile(image.path());
  StreamInstallResult result = installStream(state, staged, input, request);
  bool imageComplete = image.finish();
  if (result.status != ExitSuccess) return abandonRun(state, staged, image, result.status);
  if (!imageComplete) {
    reportInstallFailure(state, result.record, paths::standardInputImage, image.writeError());
    return abandonRun(state, staged, image, ExitFailure);
  }
  if (result.imageDirectory.empty()) staged.forgetPackageFiles();
  placeImage(staged, image, result.imageDirectory, result.bootImage);
  ExitStatus checked = checkStagedWork(state, staged);
  if (checked != ExitSuccess) return abandonRun(state, staged, image, checked);
  Status marked = stageEmptyFile(staged, paths::packagesChangedMarker);
  if (!marked.isOk()) {
    reportInstallFailure(state, result.record, paths::packagesChangedMarker, marked);
    return abandonRun(state, staged, image, ExitFailure);
  }
  PackageFileContents contents;
  CommitOptions commit;
  commit.contents = &contents;
  ExitStatus status = commitStatus(commitStaged(state, staged, commit));
  removeRunLeftovers(state.env);
  finishLog(state);
  return status;
}

}  // namespace installer
