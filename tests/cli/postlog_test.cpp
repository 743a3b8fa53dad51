#include "cli/postlog.h"

#include <gtest/gtest.h>

#include "support/recorded_output.h"
#include "support/router_device.h"

namespace installer {
namespace {

// An upgrade run prepares the log, and its end replaces it; other runs append.
TEST(Postlog, PreparedLogIsReplacedOtherwiseAppendedTo) {
  const std::string zeros(4096, '\0');
  struct Case {
    std::string existing;  // the log, or "": none, or "fifo", or "link" (to a file)
    bool prepare;
    std::vector<std::string> said, loaded;  // the messages before and after preparing
    const char* log;                        // null: nothing changed
  } cases[] = {
      {"earlier\n", false, {"one", "two"}, {}, "earlier\none\ntwo\n"},
      // The old lines come first; a last line without a line feed was never finished.
      {"old one\nold two\nunfinished", true, {"said"}, {"old one", "old two", "said"}, "old one\nold two\nsaid\n"},
      {"partial", true, {}, {}, ""},
      // Only a plain file is a log: a fifo would block the run.
      {"fifo", true, {"said"}, {"said"}, nullptr},
      // Nor is a link: the log is never read or written through one.
      {"link", true, {"said"}, {"said"}, nullptr},
      {"link", false, {"said"}, {"said"}, nullptr},
      // A log past its bound is not loaded: it would only grow.
      {std::string(1 << 20, '\n') + "\n", true, {"said"}, {"said"}, "said\n"},
  };
  for (const Case& c : cases) {
    auto device = routerDevice(4096, 1 << 20);
    SimulatedDevice& root = *device;
    bool plain = c.existing != "" && c.existing != "fifo" && c.existing != "link";
    ASSERT_TRUE(c.existing != "fifo" || root.addSpecial("/flash/postlog"));
    ASSERT_TRUE(c.existing != "link" ||
                (root.addFile("/flash/other", "other\n") && root.addSymlink("/flash/postlog", "other")));
    ASSERT_TRUE(!plain || root.addFile("/flash/postlog", c.existing));
    std::string before = root.tree();
    auto log = [&root] {
      std::string contents;
      EXPECT_TRUE(root.read("/flash/postlog", contents));
      return contents;
    };
    RecordedOutput output;
    InstallerState state(root, output);
    state.messages = c.said;
    if (c.prepare) preparePostlog(state);
    EXPECT_EQ(state.messages, c.prepare ? c.loaded : c.said);
    EXPECT_TRUE(!c.prepare || !c.log || log() == zeros);  // the space is reserved
    EXPECT_EQ(writePostlog(state).isOk(), c.log != nullptr || (!c.prepare && c.existing != "link"));
    EXPECT_EQ(c.log ? log() : root.tree(), c.log ? c.log : before) << c.existing.substr(0, 9);
  }
}

}  // namespace
}  // namespace installer
