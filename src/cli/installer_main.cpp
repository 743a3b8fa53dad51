// The sequence of one installer run; each run mode lives in its own function.
#include "cli/installer_main.h"

#include <string>

#include "cli/manifest_runs.h"
#include "cli/run_options.h"
#include "cli/run_setup.h"
#include "cli/run_start.h"
#include "cli/standard_input_run.h"
#include "cli/upgrade_mode_run.h"
#include "pdb/database_loader.h"
#include "pdb/pending_actions.h"
#include "platform/system_facts.h"
#include "platform/system_library.h"
#include "platform/system_settings.h"
#include "rules/package_listing.h"
#include "staging/staged_files.h"

namespace installer {

namespace {

// The system library's facts come from the settings file, read before
// anything else, so that neither the options nor a root change matter.
void openSettings(Env& env, Output& output) {
  std::string diagnostics;
  SystemSettings settings = loadSystemSettings(env, systemSettingsPath(env), diagnostics);
  // As a C string: a NUL byte that a line of the file carried ends the text.
  output.writeError(diagnostics.c_str());
  openSystemLibrary(env, settings);
}

// --show: print the loaded database.
int listingRun(InstallerState& state) {
  listPackages(state);
  return ExitSuccess;
}

int loadedRun(InstallerState& state, RunOptions& options, std::istream& input) {
  // The listing writes no log; the two install runs write theirs at the end.
  if (!startRun(state, !options.showList)) return ExitFailure;
  loadDatabase(state, options.quiet, deviceArchitecture(state.env));
  if (options.showList) return listingRun(state);

  StagedFiles staged(state.env);
  // A refused resolution has been reported and changes nothing; the run
  // goes on with the database as it is.
  static_cast<void>(applyPendingActions(state, staged, Verbosity::Normal));
  if (options.fromStdin) return standardInputRun(state, staged, options, input);
  return upgradeModeRun(state, staged, options);
}

}  // namespace

int installerMain(Env& env, Output& output, const std::vector<std::string>& arguments, std::istream& input) {
  openSettings(env, output);
  InstallerState state(env, output);
  state.flagged = routerInFlaggedState();
  if (isEmulatorBoard(env)) return ExitSuccess;

  RunOptions options;
  ParsedMode mode = parseOptions(arguments, options);
  for (int i = 0; i < options.resumeNotices; ++i) output.write(resumeNoticeText);
  if (mode == ParsedMode::Usage) {
    output.write(std::string(usageLine) + '\n');
    return ExitSuccess;
  }
  // Going on in the old root after a failed chroot would change the live
  // system instead of the one asked for, so the run stops here. A "-r" read
  // before --commit or --cancel counts too: their manifest is the new root's.
  if (!changeRoot(env, output, options.root)) return ExitFailure;
  state.quiet = options.quiet;
  std::unique_ptr<FileLock> lock;
  if (!lockRun(state, lock)) return ExitFailure;
  if (mode == ParsedMode::Commit) return commitManifestRun(state);
  if (mode == ParsedMode::Cancel) return cancelManifestRun(state);
  return loadedRun(state, options, input);
}

}  // namespace installer
