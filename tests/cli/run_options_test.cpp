#include "cli/run_options.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace installer {
namespace {

TEST(ParseOptions, ReadsUpToWhereItStops) {
  struct Case {
    const char* arguments;
    ParsedMode mode;
    const char* fields;  // showList fromStdin quiet applyNow as 0/1, root, flags, resumeNotices
  } cases[] = {
      {"", ParsedMode::Run, "0001 0 0"},
      {"--safe -q -down --reinstall -b --force --noupgrade -i --show", ParsedMode::Run, "1010 34 1"},
      {"- --show --bogus", ParsedMode::Run, "0101 0 0"},
      {"-r /x --commit -r /y", ParsedMode::Commit, "0001 /x 0 0"},
      {"--cancel --bogus", ParsedMode::Cancel, "0001 0 0"},
      {"--reinstall --reinstall --what --reinstall", ParsedMode::Usage, "0001 32 2"},
      {"-q -r", ParsedMode::Usage, "0011 0 0"},
  };
  for (const Case& c : cases) {
    std::istringstream words(c.arguments);
    RunOptions o;
    EXPECT_EQ(parseOptions({std::istream_iterator<std::string>(words), {}}, o), c.mode) << c.arguments;
    std::ostringstream fields;
    fields << o.showList << o.fromStdin << o.quiet << o.applyNow << (o.root.empty() ? "" : " " + o.root) << " "
           << o.flags << " " << o.resumeNotices;
    EXPECT_EQ(fields.str(), c.fields) << c.arguments;
  }
}

}  // namespace
}  // namespace installer
