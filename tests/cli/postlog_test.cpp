#include "cli/postlog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/recorded_output.h"
#include "support/test_root.h"

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
    TestRoot root;
    if (c.existing == "fifo") mkfifo(root.host("/flash/postlog").c_str(), 0644);
    if (c.existing == "link") root.write("/flash/other", "other\n"), root.symlink("/flash/postlog", "other");
    if (c.existing != "" && c.existing != "fifo" && c.existing != "link") root.write("/flash/postlog", c.existing);
    std::string before = root.tree();
    RecordedOutput output;
    InstallerState state(root.env(), output);
    state.messages = c.said;
    if (c.prepare) preparePostlog(state);
    EXPECT_EQ(state.messages, c.prepare ? c.loaded : c.said);
    EXPECT_TRUE(!c.prepare || !c.log || root.read("/flash/postlog") == zeros);  // the space is reserved
    EXPECT_EQ(writePostlog(state).isOk(), c.log != nullptr || (!c.prepare && c.existing != "link"));
    EXPECT_EQ(c.log ? root.read("/flash/postlog") : root.tree(), c.log ? c.log : before) << c.existing.substr(0, 9);
  }
}

}  // namespace
}  // namespace installer
