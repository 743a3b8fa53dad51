// Writing a package's record into its database directory.
//
// The meta files ("version", "deps", "provides", "conflicts", "bundle",
// "files") let a package be restored when its image cannot be read; the
// state files ("disabled", "enabled") keep its enabled state across boots.
// Nothing is written under its final name here: every file goes to a
// temporary file of the run's StagedFiles and every removal is a staged
// Delete, so the whole database changes together when the run commits.
// The caller owns both the record and the staged set.
#pragma once

#include <string>
#include <vector>

#include "model/installer_state.h"
#include "model/package_info.h"
#include "staging/staged_files.h"

namespace installer {

// Stages the meta files (unless the package is a boot image or asks for
// none) and the state files of `package`. False after a meta file could not
// be written, which has been reported once with its "meta/" name; files
// staged before it stay staged and the caller abandons the package. A state
// file that cannot be written is reported too but does not make it fail.
[[nodiscard]] bool writePackageMeta(InstallerState& state, InstalledPackage& package, StagedFiles& staged);

// Stages `path` with one line per entry: "name min max", plus " priority"
// when `withPriority`. Ok when every byte reached the temporary file.
// Reports nothing.
Status writeRefList(StagedFiles& staged, const std::string& path, const std::vector<DependencyRef>& list,
                    bool withPriority);

// Enables `package`: stages the removal of "disabled", writes "enabled"
// ("user") when the user chose the state or removes it otherwise, then
// clears `disabled` and the pending action. A state file that cannot be
// written is reported as "meta/enabled" and false is returned; the record
// is changed all the same, the run goes on.
[[nodiscard]] bool markEnabled(InstallerState& state, InstalledPackage& package, StagedFiles& staged);

// Stages the state files of a package being disabled: removes "enabled" and
// writes "disabled" with "user" or "auto" by `byUser`. Changes no field of
// the record; the caller sets `disabled` and the pending action. A failure
// is reported as "meta/disabled" and gives false.
[[nodiscard]] bool writeDisabledState(InstallerState& state, InstalledPackage& package, StagedFiles& staged);

}  // namespace installer
