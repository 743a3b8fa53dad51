// Scenarios: end-to-end cases of the installer and pkgtool as small text
// files, run by one runner (tests/cli/scenario_test.cpp).
//
// A scenario is a list of commands, one per line, run in order on a fresh
// simulated device (tests/support/simulated_device.h; "/flash/var/pdb",
// "/ram", "/rw" and "/tmp" made) and a host work directory for package
// files. Words
// are separated by blanks; a word in double quotes may hold blanks and the
// escapes \n \t \\ \" \xHH; $KEY stands for the development key file.
// Lines starting with "#" are comments. Lines indented by two spaces after
// an expectation are its block. After the commands, "-- NAME --" lines
// start files of the work directory (the rest of the scenario, txtar style).
//
//   text FILE CONTENT          writes a work file (FILE may name directories)
//   pkgtool ARGS...            runs pkgtool in the work directory; it must
//                              succeed, or fail when the line starts with "!"
//   put PATH CONTENT|@FILE [MODE]   writes a device file (octal MODE, default 644)
//   mkdir PATH... | symlink PATH TARGET | rm PATH | fifo PATH
//   installed NAME VERSION [FILE...]   a package installed without an image:
//                              its meta files and its files on flash
//   env NAME [VALUE]           sets (or unsets) a variable for the installer
//   installer ARGS... [<FILE]  runs the installer on the device, with
//                              the work file FILE (or nothing) on standard input
//   status N                   the exit status of the last run
//   stdout / stderr            what the last run printed, as a terminal shows
//                              it (carriage returns, backspaces and escape
//                              sequences applied, blank lines dropped): the
//                              block lines, or nothing without a block
//   stdout-raw "BYTES"         the exact bytes it printed
//   stdout-has "TEXT"          what it printed holds TEXT (for long reports)
//                              (in pkgtool's standard output the checkout's
//                              directory reads "$SOURCE")
//   tree [PATH]                the device tree below PATH (default "/"): one
//                              block line per entry, as the device's tree()
//                              writes them; a long file equal to a work file
//                              shows "@FILE" in place of its size and digest;
//                              the run lock "/ram/installer.lock" is left out
//   changes                    what the last installer run changed in the
//                              device tree: "+ LINE" for each tree line that
//                              is new, "- LINE" for each that is gone
//   unchanged                  no changes, "/flash/postlog" aside
#pragma once

#include <string>
#include <vector>

namespace installer {

// Runs the scenario in `path`; returns the failures, one text each.
std::vector<std::string> runScenario(const std::string& path);

// What a terminal shows after `raw` was written to it, one line per row.
std::string renderTerminal(const std::string& raw);

}  // namespace installer
