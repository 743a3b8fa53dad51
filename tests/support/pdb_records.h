// Database records written as one line of words, for the tests of the
// package database: the records a test starts from, and the records and
// staged changes it expects, in the same few words.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "staging/staged_files.h"
#include "support/simulated_device.h"
#include "support/test_packages.h"

namespace installer {

// Appends records to `state`: records separated by ";", each a name and
// then words, taken in order:
//   v=1.2 version (default 1.0)   off  disabled   user  byUser
//   uninstall, enable, disable    the pending action
//   bundle  a bundle record       in=all  member of bundle "all"
//   boot  a boot image            nometa  asks for no meta files
//   has=lib  a member "lib" like the record so far (a bundle read from a file)
//   needs=, provides=, excludes=NAME[:MIN:MAX[:PRIORITY]]  relations
//   file=/bin/a  an installed file
void addRecords(InstallerState& state, const std::string& description);

// One line per record: name version buildTime (raw numbers), then what is
// set of: bundle, in=NAME:MIN:MAX, off, user, the pending word,
// needs=/provides=/excludes=NAME:MIN:MAX[:PRIORITY], file=PATH (the file
// list read first where the load left it on flash).
std::string describeRecords(InstallerState& state);

// Writes files below the directory `dir` from "name=contents" entries
// separated by ";", each "|" a newline: "p/version=1 2|;p/files=". A name
// beginning with "/" is a whole device path.
void writeFiles(SimulatedDevice& device, const std::string& dir, const std::string& files);

using Images = std::vector<std::pair<std::string, std::string>>;  // device path, bytes

// Loads a database made of `files` (below "/flash/var/pdb/") and `images`,
// listed in reverse name order: describeRecords of the result, then what
// the load printed.
std::string loadedFrom(const std::string& files, const Images& images = {});

// The staged entries in path order, separated by spaces, shown below
// "/flash/var/pdb/" when in it: "-path" for a removal, "path=CONTENTS" for
// a written file (each newline shown as "|"), followed by "(not 0600)"
// when the temporary file has other permissions.
std::string stagedOf(SimulatedDevice& device, const StagedFiles& staged);

}  // namespace installer
