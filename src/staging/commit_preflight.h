// The check of a commit's plan before anything changes.
//
// The steps are played in order on a model of the file system (what is
// there, overlaid with what the earlier steps made of it), so that the check
// sees the plan's own effects: a file that an earlier step removes or moves
// away is no source any more, a link an earlier step makes is one, a file
// the plan puts at "a" stands in the way of "a/b". Every step must be
// possible: what is moved or copied in is a file or a link, nothing but a
// file, a link or a directory the plan empties stands where a file or link
// goes, and every directory above a destination is one, or is missing and
// can be made. What changes lies below "/flash/", in no name of the
// installer's own. A plan that passes can be carried out to the end.
#pragma once

#include <string>
#include <vector>

#include "model/installer_state.h"
#include "staging/commit_plan.h"

namespace installer {

// What carrying out a plan does to the inodes of the file systems: the
// paths of the files, links and directories it makes, and of those it
// takes away.
struct PlanEffects {
  std::vector<std::string> created;
  std::vector<std::string> freed;
};

// True when every step can be done; otherwise the first step that cannot is
// reported ("cannot install PATH: ...") and false is returned. `effects`,
// when given, receives what the plan makes and takes away.
[[nodiscard]] bool preflightCommit(InstallerState& state, const CommitPlan& plan, PlanEffects* effects = nullptr);

}  // namespace installer
