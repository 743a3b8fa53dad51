// Loading the package database from "/flash/var/pdb/" into InstallerState.
#pragma once

#include <string>

#include "pdb/installer_state.h"

void loadDatabase(InstallerState& state, bool quiet, const std::string& architecture);
