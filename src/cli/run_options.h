// The command line of one installer run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installer {

struct RunOptions {
  bool showList = false;   // --show
  bool fromStdin = false;  // -
  bool quiet = false;      // -q
  bool applyNow = true;    // cleared by --safe
  std::string root;        // -r ROOT
  uint32_t flags = 0;      // InstallFlags: -down, --reinstall; Upgrade added before a run
  int resumeNotices = 0;   // times --reinstall was read: "Resuming upgrade..." is due
};

enum class ParsedMode {
  Run,     // listing, standard input or upgrade run, as the options say
  Usage,   // unrecognised option or missing value
  Commit,  // --commit: carry out "/ram/MANIFEST"
  Cancel,  // --cancel: drop "/ram/MANIFEST"
};

// Reads the options (the command line without the program name), stopping
// at "-", "--commit", "--cancel" or the first argument it does not know.
// Prints nothing.
ParsedMode parseOptions(const std::vector<std::string>& arguments, RunOptions& options);

constexpr char usageLine[] = "usage: installer [-q] [-r <root>] [-]";
constexpr char resumeNoticeText[] = "\nResuming upgrade...\n";

}  // namespace installer
