#include "pkgtool_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "support/host_files.h"
#include "support/simulated_device.h"

namespace installer {
namespace {

// Run in a directory that holds only the two trust files, which the failing
// runs leave so.
// In the arguments, "+" stands for a blank within one argument.
TEST(Pkgtool, RefusesBadArgumentsAndUnreadableFiles) {
  struct Case {
    const char* arguments;
    int status;  // 2: bad arguments, followed by the usage text
    std::string err;
  } cases[] = {
      {"", 2, "no command"},
      {"frob", 2, "unknown command frob"},
      {"build -d d", 2, "build: no output file (-o OUT)"},
      {"build -o x --name", 2, "build: --name needs a value"},
      {"build -o x --version 1", 2, "the description needs a name"},
      {"build -o x --name n --version 1 --frob 1", 2, "--frob: unknown setting \"frob\""},
      {"build -o x --name n --version seven", 2, "--version: \"seven\" is not a version (7.1.3, 7.1rc2, 0x07010303)"},
      {"build -o x --name n --version 1 --depends a+min=x", 2,
       "--depends: \"min=x\" is not min=VERSION, max=VERSION or priority=NUMBER"},
      {"build -o x --name n --version 1 --mode bin/x+755", 2, "mode: no file named \"bin/x\""},
      {"build -o x --name n --version 1 --signature rsa", 2,
       "--signature: needs \"ed25519\", \"legacy\", \"both\" or \"none\""},
      {"build -o x --name n --version 1 --files none", 2, "--files: none: not a directory"},
      {"build -o x --name n --version 1 --key ed.trust --digest sha1", 2,
       "build: an Ed25519 signature over a SHA-1 digest is refused; use --digest sha256, or "
       "--allow-ed25519-over-sha1 to build it anyway"},
      {"build -o x --name n --version 1", 1, "signing needs a key file (--key KEYFILE), or --signature none"},
      {"build -o x -d none", 1, "none: cannot open: No such file or directory"},
      {"build -o none/x --name n --version 1 --signature none", 1, "none/x: cannot write: No such file or directory"},
      {"bundle -o x --name n --version 1", 2, "bundle: no member package files"},
      {"bundle -o x --note x m", 2, "--note: unknown setting \"note\" for a bundle"},
      {"inspect", 2, "inspect: no package file"},
      {"inspect none", 1, "none: cannot open: No such file or directory"},
      {"inspect none --trust private.trust", 1, "private.trust:1: unknown setting \"legacy-private-key\""},
      {"keygen", 2, "keygen: no output name"},
      {"keygen k --hash-constants ed.trust", 1, "ed.trust: no legacy-hash-iv and legacy-hash-k"},
  };
  std::string dir = makeHostTempDir();
  writeHostFile(dir + "/ed.trust", "ed25519-public-key " + std::string(64, '0') + "\n");
  writeHostFile(dir + "/private.trust", "legacy-private-key " + std::string(64, '1') + "\n");
  std::string before = describeTree(dir, "");
  char previous[4096];
  ASSERT_TRUE(getcwd(previous, sizeof previous) != nullptr && chdir(dir.c_str()) == 0);
  for (const Case& c : cases) {
    std::istringstream words(c.arguments);
    std::vector<std::string> arguments;
    for (std::string word; words >> word; arguments.push_back(word)) std::replace(word.begin(), word.end(), '+', ' ');
    std::ostringstream out, err;
    EXPECT_EQ(runPkgtool(arguments, out, err), c.status) << c.arguments;
    EXPECT_EQ(err.str(), "pkgtool: " + c.err + "\n" + (c.status == 2 ? pkgtoolUsage : ""));
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_EQ(describeTree(dir, ""), before);
  EXPECT_EQ(chdir(previous), 0);
  removeHostTree(dir);
}

// Names the files opened for writing, how, and with what permissions.
class OpenRecorder : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  Status openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                      std::unique_ptr<WritableFile>& file) override {
    char said[64];
    std::snprintf(said, sizeof said, "%s %o", mode == WriteMode::CreateNew ? "new" : "other", permissions);
    opened.push_back(path.substr(path.rfind('/') + 1) + " " + said);
    return EnvWrapper::openWritable(path, mode, permissions, file);
  }
  std::vector<std::string> opened;
};

// The private key file is created with its final mode, never after the
// fact, and never over a file (or a link) standing there; a pair that
// cannot be written whole leaves neither file.
TEST(Pkgtool, KeygenCreatesNewFilesPrivateFromTheStart) {
  const std::string dir = "/keys";
  SimulatedDevice device({{"/"}});
  ASSERT_TRUE(device.addDirectories(dir));
  OpenRecorder files(device);
  std::ostringstream out, err;
  ASSERT_EQ(keygenCommand({dir + "/k"}, out, err, files), 0);
  EXPECT_EQ(files.opened, (std::vector<std::string>{"k.key new 600", "k.trust new 644"}));
  EXPECT_EQ(device.calls(EnvCall::ChangeMode) + device.calls(EnvCall::Rename), 0u);
  ASSERT_TRUE(device.addSymlink(dir + "/j.key", "nowhere"));
  EXPECT_EQ(keygenCommand({dir + "/j"}, out, err, files), 1);
  EXPECT_EQ(keygenCommand({dir + "/k"}, out, err, files), 1);
  device.failAt(EnvCall::Write, device.calls(EnvCall::Write) + 2, ENOSPC);
  EXPECT_EQ(keygenCommand({dir + "/m"}, out, err, files), 1);
  EXPECT_EQ(err.str(), "pkgtool: " + dir + "/j.key or " + dir + "/j.trust exists already; not overwriting keys\n" +
                           "pkgtool: " + dir + "/k.key or " + dir + "/k.trust exists already; not overwriting keys\n" +
                           "pkgtool: " + dir + "/m.trust: cannot write: No space left on device\n");
  EXPECT_EQ(files.opened.size(), 4u);
  EXPECT_EQ(device.tree(dir).find("/m."), std::string::npos);
}

}  // namespace
}  // namespace installer
