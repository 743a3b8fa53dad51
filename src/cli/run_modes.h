// The run modes that main picks from the options, one function each.
// Each returns the process's exit status.
#pragma once

#include <string>

#include "cli/run_options.h"

class InstallerState;
class StagedFiles;

// True when "board" is "qemu_p9": the installer has nothing to do.
bool isEmulatorBoard();
// chroot(root) when root is not empty, then chdir("/"). False after a failed
// chroot, which has been reported with perror.
bool changeRoot(const std::string& root);
// "i386", or the value of "arch" when set (even empty).
std::string deviceArchitecture();

// --commit: carry out "/ram/MANIFEST".
int commitManifestRun();
// --cancel: drop "/ram/MANIFEST".
int cancelManifestRun();
// --show: print the loaded database.
int listingRun(InstallerState& state);
// -: install one package stream from standard input.
int standardInputRun(InstallerState& state, StagedFiles& staged, RunOptions& options);
// No run-mode option: the boot-time upgrade run.
int upgradeModeRun(InstallerState& state, StagedFiles& staged, RunOptions& options);
