#include "cli/run_options.h"

#include <cstring>

#include "rules/acceptance.h"

namespace installer {

namespace {

bool isIgnored(const char* argument) {
  static const char* const ignored[] = {"-b", "--force", "--noupgrade", "-i"};
  for (const char* option : ignored) {
    if (std::strcmp(argument, option) == 0) return true;
  }
  return false;
}

}  // namespace

ParsedMode parseOptions(const std::vector<std::string>& arguments, RunOptions& options) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const char* argument = arguments[i].c_str();
    bool hasValue = i + 1 < arguments.size();
    if (std::strcmp(argument, "--safe") == 0) {
      options.applyNow = false;
    } else if (std::strcmp(argument, "-r") == 0 && hasValue) {
      options.root = arguments[++i];
    } else if (std::strcmp(argument, "-") == 0) {
      options.fromStdin = true;
      return ParsedMode::Run;
    } else if (std::strcmp(argument, "-q") == 0) {
      options.quiet = true;
    } else if (std::strcmp(argument, "-down") == 0) {
      options.flags |= Downgrade;
    } else if (std::strcmp(argument, "--reinstall") == 0) {
      ++options.resumeNotices;
      options.flags |= Reinstall;
    } else if (isIgnored(argument)) {
      continue;
    } else if (std::strcmp(argument, "--commit") == 0) {
      return ParsedMode::Commit;
    } else if (std::strcmp(argument, "--cancel") == 0) {
      return ParsedMode::Cancel;
    } else if (std::strcmp(argument, "--show") == 0) {
      options.showList = true;
    } else {
      return ParsedMode::Usage;
    }
  }
  return ParsedMode::Run;
}

}  // namespace installer
