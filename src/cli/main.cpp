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
  // Going on in the old root after a failed chroot would change the live
  // system instead of the one asked for, so the run stops here. A "-r" read
  // before --commit or --cancel counts too: their manifest is the new root's.
  if (!changeRoot(options.root)) return 1;
  if (mode == ParsedMode::Commit) return commitManifestRun();
  if (mode == ParsedMode::Cancel) return cancelManifestRun();

  loadDatabase(state, options.quiet, deviceArchitecture());
  if (options.showList) return listingRun(state);

  StagedFiles staged;
  applyPendingActions(state, staged, 1);
  if (options.fromStdin) return standardInputRun(state, staged, options);
  return upgradeModeRun(state, staged, options);
}
