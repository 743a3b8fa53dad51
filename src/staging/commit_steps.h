// Carrying out the steps of a commit's plan: the first time, or again in a
// later run when the first was cut short.
//
// Every step looks at what stands at its path and its source now, and does
// only what is still to do, judged by what the plan recorded, never by
// guesses: a removal takes away only the inode it recorded; a rename is
// done when its path holds the inode its source had, still to do while
// the source holds it, and lost when neither does; a copy is done when its
// path holds contents of the recorded size and digest, and is otherwise
// made again from its source or, when that is gone, from the package file
// it came from. A step that cannot be done is noted with its reason, and
// the others go on.
#pragma once

#include <string>
#include <vector>

#include "staging/commit_plan.h"
#include "staging/file_copy.h"
#include "staging/package_contents.h"

namespace installer {

struct StepFailure {
  std::string path;
  std::string reason;
  // The system call that failed, named as the commit shows it on standard
  // error before its report ("rename: Input/output error"); ok for a step
  // that failed without one.
  Status call;
};

// Carries out every step of `plan` in order. `spinner` animates the copies
// (null: none); `contents` makes lost copies again (null: none can be).
// Returns the steps that could not be done.
std::vector<StepFailure> carryOutPlan(Env& env, const CommitPlan& plan, Spinner* spinner, PackageContents* contents);

}  // namespace installer
