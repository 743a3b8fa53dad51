// The package listing of "--show": the loaded database as a table, one
// line per record in load order. It only reads the state.
//
//   header     Name(16) "    " Version(13) " " Built(20) Note(40)
//   dashes     94 '-'
//   records    name(16) " " X(1) "B "(2) version(13) " " built(20) " " note(40)
//
// Every column is right-aligned to its width (a longer item is printed
// whole); the record lines have one separator more than the header, before
// the note.
#pragma once

#include <cstdint>
#include <string>

#include "model/installer_state.h"

namespace installer {

// `buildTime` as "%b/%d/%Y %H:%M:%S" in UTC; empty when it cannot be converted.
std::string formatBuildTime(uint32_t buildTime);

// Prints the table to the state's Output.
void listPackages(const InstallerState& state);

}  // namespace installer
