// The run modes that the installer picks from its options, one function
// each, and installerMain, which sequences a whole run. Each returns the
// process's exit status.
#pragma once

#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "base/exit_status.h"
#include "cli/run_options.h"
#include "model/installer_state.h"
#include "platform/env.h"
#include "staging/staged_commit.h"
#include "staging/staged_files.h"

namespace installer {

// The whole life of one installer process: `arguments` are the command
// line without the program name, `input` is standard input.
int installerMain(Env& env, const std::vector<std::string>& arguments, std::istream& input);

// True when "board" is "qemu_p9": the installer has nothing to do.
bool isEmulatorBoard(Env& env);
// chroot(root) when root is not empty, then chdir("/"). False after a failed
// chroot, which has been reported on standard error as "chroot: REASON".
[[nodiscard]] bool changeRoot(Env& env, const std::string& root);
// "i386", or the value of "arch" when set (even empty).
std::string deviceArchitecture(Env& env);

// Takes the lock that keeps runs apart, waiting a while for another run to
// finish. False, reported, when the lock cannot be had.
[[nodiscard]] bool lockRun(InstallerState& state, std::unique_ptr<FileLock>& lock);
// Finishes a commit that an interrupted run left and removes the temporary
// files of runs that did not finish. `writesOwnLog`: the run writes the
// post-run log at its end (otherwise a message about the interrupted
// commit goes there now). False, reported, when the journal of the
// interrupted commit cannot be read: the run must not go on.
[[nodiscard]] bool startRun(InstallerState& state, bool writesOwnLog);

// Whether the staged work can be committed: it fits on the flash (when it
// does not, the shortfall of each disk has been reported, "upgrade failed,
// free N kB of ...": ExitNoSpace) and every step of it can be done (when
// one cannot, it has been reported: ExitFailure). ExitSuccess otherwise.
[[nodiscard]] ExitStatus checkStagedWork(InstallerState& state, const StagedFiles& staged);

// The exit status for the outcome of a commit.
ExitStatus commitStatus(CommitResult result);

// --commit: carry out "/ram/MANIFEST".
int commitManifestRun(InstallerState& state);
// --cancel: drop "/ram/MANIFEST" and the temporary files it names.
int cancelManifestRun(InstallerState& state);
// --show: print the loaded database.
int listingRun(InstallerState& state);
// -: install one package stream from `input`.
int standardInputRun(InstallerState& state, StagedFiles& staged, RunOptions& options, std::istream& input);
// No run-mode option: the boot-time upgrade run.
int upgradeModeRun(InstallerState& state, StagedFiles& staged, RunOptions& options);

}  // namespace installer
