// installer: the package installer of the router. main only sequences the
// steps of a run; each run mode lives in its own function.
#include <cstdio>

#include "cli/run_modes.h"
#include "cli/run_options.h"
#include "pdb/database_loader.h"
#include "pdb/installer_state.h"
#include "pdb/pending_actions.h"
#include "rules/flagged_state.h"
#include "staging/staged_files.h"

// flaggedState (and the system settings behind it) is read by a static
// initialiser before main runs. Nothing in main names it, so without this
// reference the linker would leave that initialiser out of the program.
__attribute__((used)) static const uint8_t* const flaggedStateAtStart = &flaggedState;

int main(int argc, char** argv) {
  InstallerState& state = InstallerState::instance();
  if (isEmulatorBoard()) return 0;

  RunOptions options;
  ParsedMode mode = parseOptions(argc, argv, options);
  for (int i = 0; i < options.resumeNotices; ++i) std::fputs(resumeNoticeText, stdout);
  if (mode == ParsedMode::Usage) {
    std::printf("%s\n", usageLine);
    return 0;
  }
  // --commit and --cancel act on the manifest of the root we started in: they
  // are carried out the moment they are read, before any "-r" takes effect.
  if (mode == ParsedMode::Commit) return commitManifestRun();
  if (mode == ParsedMode::Cancel) return cancelManifestRun();
  // Going on in the old root after a failed chroot would change the live
  // system instead of the one asked for, so the run stops here.
  if (!changeRoot(options.root)) return 1;

  loadDatabase(state, options.quiet, deviceArchitecture());
  if (options.showList) return listingRun(state);

  StagedFiles staged;
  applyPendingActions(state, staged, 1);
  if (options.fromStdin) return standardInputRun(state, staged, options);
  return upgradeModeRun(state, staged, options);
}
