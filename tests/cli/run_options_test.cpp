#include "cli/run_options.h"

#include <gtest/gtest.h>

#include <vector>

#include "rules/acceptance.h"

namespace {

ParsedMode parse(std::vector<const char*> arguments, RunOptions& options) {
  arguments.insert(arguments.begin(), "installer");
  return parseOptions(static_cast<int>(arguments.size()), arguments.data(), options);
}

TEST(ParseOptions, DefaultsWithoutArguments) {
  RunOptions options;
  EXPECT_EQ(parse({}, options), ParsedMode::Run);
  EXPECT_FALSE(options.showList);
  EXPECT_FALSE(options.fromStdin);
  EXPECT_FALSE(options.quiet);
  EXPECT_TRUE(options.applyNow);
  EXPECT_EQ(options.root, "");
  EXPECT_EQ(options.flags, 0u);
}

TEST(ParseOptions, EveryFlagSetsItsField) {
  RunOptions options;
  EXPECT_EQ(parse({"--safe", "-q", "-down", "--reinstall", "-b", "--force", "--noupgrade", "-i", "--show"}, options),
            ParsedMode::Run);
  EXPECT_FALSE(options.applyNow);
  EXPECT_TRUE(options.quiet);
  EXPECT_TRUE(options.showList);
  EXPECT_EQ(options.flags, static_cast<uint32_t>(Downgrade | Reinstall));
  EXPECT_EQ(options.resumeNotices, 1);
}

TEST(ParseOptions, LaterRootReplacesEarlier) {
  RunOptions options;
  EXPECT_EQ(parse({"-r", "/a", "-r", "/b"}, options), ParsedMode::Run);
  EXPECT_EQ(options.root, "/b");
}

TEST(ParseOptions, RootTakesTheNextArgumentWhateverItIs) {
  RunOptions options;
  EXPECT_EQ(parse({"-r", "-"}, options), ParsedMode::Run);
  EXPECT_EQ(options.root, "-");
  EXPECT_FALSE(options.fromStdin);
}

TEST(ParseOptions, DashStopsReading) {
  RunOptions options;
  EXPECT_EQ(parse({"-", "--show", "--bogus"}, options), ParsedMode::Run);
  EXPECT_TRUE(options.fromStdin);
  EXPECT_FALSE(options.showList);
}

TEST(ParseOptions, ShowThenDashKeepsBoth) {
  RunOptions options;
  EXPECT_EQ(parse({"--show", "-"}, options), ParsedMode::Run);
  EXPECT_TRUE(options.showList);
  EXPECT_TRUE(options.fromStdin);
}

TEST(ParseOptions, CommitAndCancelStopReadingWithRootSoFar) {
  RunOptions options;
  EXPECT_EQ(parse({"-r", "/x", "--commit", "-r", "/y"}, options), ParsedMode::Commit);
  EXPECT_EQ(options.root, "/x");
  RunOptions other;
  EXPECT_EQ(parse({"--cancel", "--bogus"}, other), ParsedMode::Cancel);
}

TEST(ParseOptions, UnknownAndMissingValueGiveUsage) {
  RunOptions options;
  EXPECT_EQ(parse({"--bogus"}, options), ParsedMode::Usage);
  EXPECT_EQ(parse({"-q", "-r"}, options), ParsedMode::Usage);
  EXPECT_EQ(parse({"--SHOW"}, options), ParsedMode::Usage);
}

}  // namespace
