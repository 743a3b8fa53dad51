#include "cli/postlog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_root.h"

namespace installer {
namespace {

// An upgrade run prepares the log, and its end replaces it; other runs append.
TEST(Postlog, PreparedLogIsReplacedOtherwiseAppendedTo) {
  const std::string zeros(4096, '\0');
  struct Case {
    std::string existing;  // the log, or "": none, or "fifo"
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
  };
  for (const Case& c : cases) {
    TestRoot root;
    if (c.existing == "fifo") mkfifo(root.host("/flash/postlog").c_str(), 0644);
    if (c.existing != "" && c.existing != "fifo") root.write("/flash/postlog", c.existing);
    std::string before = root.tree();
    InstallerState state(root.env());
    state.messages = c.said;
    if (c.prepare) preparePostlog(state);
    EXPECT_EQ(state.messages, c.prepare ? c.loaded : c.said);
    EXPECT_TRUE(!c.prepare || !c.log || root.read("/flash/postlog") == zeros);  // the space is reserved
    EXPECT_EQ(writePostlog(state), c.log != nullptr || !c.prepare);
    EXPECT_EQ(c.log ? root.read("/flash/postlog") : root.tree(), c.log ? c.log : before) << c.existing;
  }
}

}  // namespace
}  // namespace installer
