#include "pdb/pending_actions.h"

bool applyPendingActions(InstallerState&, StagedFiles&, int) { return false; }
