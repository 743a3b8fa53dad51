// The check of a staged set before its commit changes anything.
//
// Every step must be possible: a file moved in has its source, nothing but a
// regular file or a symbolic link stands where a file or link is to go (a
// directory only when the set removes everything in it), and every
// directory above a destination exists, or will once the set has removed a
// file standing in its place. A set that passes can be carried out to the
// end by renames, links and removals alone.
#pragma once

#include "model/installer_state.h"
#include "staging/staged_files.h"

namespace installer {

// True when every step can be done; otherwise the first step that cannot
// is reported ("cannot install PATH: ...") and false is returned. With
// `resume`, a move whose source is gone and whose destination exists was
// done by an earlier commit of the same set, and is dropped from it.
[[nodiscard]] bool preflightCommit(InstallerState& state, StagedFiles& staged, bool resume);

// The set removes everything in the directory `path`: each entry in it has
// a Delete of its own and is no directory.
[[nodiscard]] bool setEmptiesDirectory(const StagedFiles& staged, const std::string& path);

}  // namespace installer
