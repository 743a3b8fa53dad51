// End-to-end runs of the built pkgtool: build, bundle and keygen output
// read back by inspect, which uses the installer's reader and verifier.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "package_builder.h"
#include "support/process_runner.h"
#include "support/temp_root.h"

namespace {

const std::string devKey = SOURCE_DIR "/keys/development.key";

// inspect judges legacy signatures on this machine, where "/ram/SECURE"
// would forbid them.
#define SKIP_IF_SECURE_MARKER()                                                            \
  do {                                                                                     \
    struct stat status;                                                                    \
    if (stat("/ram/SECURE", &status) == 0) GTEST_SKIP() << "this machine has /ram/SECURE"; \
  } while (0)

ProcessResult pkgtool(const std::vector<std::string>& arguments) { return runProcess(PKGTOOL_BINARY, arguments); }

const char usageText[] =
    "usage: pkgtool keygen OUT [--hash-constants TRUSTFILE]\n"
    "       pkgtool build -o OUT [-d DESCRIPTION] [--key KEYFILE] [--allow-ed25519-over-sha1] [--SETTING VALUE]...\n"
    "       pkgtool bundle -o OUT [-d DESCRIPTION] [--SETTING VALUE]... MEMBER...\n"
    "       pkgtool inspect FILE [--trust TRUSTFILE]\n";

// A description with every kind of setting, files given one by one so that
// their modes do not depend on the umask.
void writeDescription(const TempRoot& dir) {
  dir.writeFile("/src/hello.sh", "echo hello\n");
  dir.writeFile("/src/x.conf", "x=1\n");
  dir.writeFile("/src/image.sqfs", std::string(100, 'i'));
  dir.writeFile("/src/hello.desc",
                "# test package\n"
                "name hello\n"
                "version 7.1.3\n"
                "build-time 1700000000\n"
                "header-flags 0x3\n"
                "architecture mipsbe\n"
                "text24 twenty-four\n"
                "text2 two\n"
                "note greets\n"
                "depends system min=7.1 max=7.2rc1\n"
                "provides greeter priority=-5\n"
                "conflicts oldhello max=6.49\n"
                "squashfs image.sqfs\n"
                "file bin/hello hello.sh\n"
                "file /etc/x.conf x.conf\n"
                "mode bin/hello 755\n"
                "variant bin/hello 3\n");
}

// Builds the package that writeDescription describes, signed with the
// development key, with `extra` settings.
ProcessResult buildHello(const TempRoot& dir, const std::string& out, std::vector<std::string> extra = {}) {
  std::vector<std::string> arguments = {"build", "-o", out, "-d", dir.at("/src/hello.desc"), "--key", devKey};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return pkgtool(arguments);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string withoutDigest(const std::string& text) {
  size_t at = text.find("  digest: SHA-256 ");
  if (at == std::string::npos) return text;
  size_t end = text.find('\n', at);
  EXPECT_EQ(end - at, 18u + 64u);
  return text.substr(0, at) + "  digest: SHA-256 <digest>" + text.substr(end);
}

TEST(Pkgtool, BuildThenInspectShowsEveryPart) {
  TempRoot dir;
  writeDescription(dir);
  std::string out = dir.at("/hello.kmp");
  ProcessResult build = buildHello(dir, out);
  ASSERT_EQ(build.exitStatus, 0) << build.err;
  // The compressed size depends on the zlib at hand.
  size_t filesLength =
      encodeFilesPayload({{"bin/hello", 0100755, 3, "echo hello\n"}, {"/etc/x.conf", 0100644, 0, "x=1\n"}}).size();
  auto text = [](size_t n) { return std::to_string(n); };
  EXPECT_EQ(build.out, "wrote " + out + " (" + text(476 + filesLength) + " bytes)\n");
  ProcessResult inspect = pkgtool({"inspect", out});
  EXPECT_EQ(inspect.exitStatus, 0) << inspect.out;
  EXPECT_EQ(withoutDigest(inspect.out),
            "file: " + out +
                "\n"
                "magic: 0xbad0f11e (recorded)\n"
                "length field: " +
                text(468 + filesLength) +
                "\n"
                "parts:\n"
                "  offset 8: type 25 (digest select), 0 bytes\n"
                "  offset 14: type 1 (package header), 36 bytes\n"
                "  offset 56: type 24 (text 24), 11 bytes\n"
                "  offset 73: type 16 (architecture), 6 bytes\n"
                "  offset 85: type 2 (text 2), 3 bytes\n"
                "  offset 94: type 23 (note), 6 bytes\n"
                "  offset 106: type 3 (dependencies), 34 bytes\n"
                "  offset 146: type 19 (provides), 34 bytes\n"
                "  offset 186: type 17 (conflicts), 34 bytes\n"
                "  offset 226: type 21 (squashfs image), 100 bytes\n"
                "  offset 332: type 4 (files), " +
                text(filesLength) +
                " bytes\n"
                "  offset " +
                text(338 + filesLength) +
                ": type 9 (signature), 132 bytes\n"
                "package hello 7.1.3 (0x07016603)\n"
                "  build time: 1700000000\n"
                "  header flags: 0x00000003\n"
                "  architecture: mipsbe\n"
                "  text24: twenty-four\n"
                "  text2: two\n"
                "  note: greets\n"
                "  depends: system min=7.1 max=7.2rc1 priority=0\n"
                "  provides: greeter min=- max=- priority=-5\n"
                "  conflicts: oldhello min=- max=6.49 priority=0\n"
                "  squashfs image: 100 bytes at file offset 232\n"
                "  files (mode size variant name):\n"
                "    100755 11 3 bin/hello\n"
                "    100644 4 0 /etc/x.conf\n"
                "  digest: SHA-256 <digest>\n"
                "  signature: 132 bytes; ed25519 valid; legacy invalid (not allowed for this package)\n"
                "  verdict: accepted\n");
}

TEST(Pkgtool, LegacySignedSha1PackageVerifiesInItsWindow) {
  SKIP_IF_SECURE_MARKER();
  TempRoot dir;
  writeDescription(dir);
  std::string out = dir.at("/old.kmp");
  ProcessResult build =
      buildHello(dir, out, {"--version", "6.46.8", "--digest", "sha1", "--signature", "legacy", "--magic", "unrecorded"});
  ASSERT_EQ(build.exitStatus, 0) << build.err;
  ProcessResult inspect = pkgtool({"inspect", out});
  EXPECT_EQ(inspect.exitStatus, 0) << inspect.out;
  EXPECT_TRUE(contains(inspect.out, "magic: 0xa1100ffb (unrecorded)\n"));
  EXPECT_TRUE(contains(inspect.out, "  offset 8: type 1 (package header), 36 bytes\n"));
  EXPECT_TRUE(contains(inspect.out, "  signature: 68 bytes; ed25519 not checked; legacy valid (allowed for this "
                                    "package)\n  verdict: accepted\n"));
  // The same outside the windows is refused.
  ASSERT_EQ(buildHello(dir, out, {"--signature", "legacy"}).exitStatus, 0);
  inspect = pkgtool({"inspect", out});
  EXPECT_EQ(inspect.exitStatus, 1);
  EXPECT_TRUE(contains(inspect.out, "legacy valid (not allowed for this package)\n  verdict: REFUSED\n"));
}

TEST(Pkgtool, Ed25519OverSha1OnlyWhenAskedFor) {
  TempRoot dir;
  writeDescription(dir);
  std::vector<std::string> arguments = {"build", "-o",   dir.at("/x.kmp"), "-d",  dir.at("/src/hello.desc"),
                                        "--key", devKey, "--digest",       "sha1"};
  ProcessResult refused = pkgtool(arguments);
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_EQ(refused.err,
            "pkgtool: build: an Ed25519 signature over a SHA-1 digest is refused; use --digest sha256, or "
            "--allow-ed25519-over-sha1 to build it anyway\n" + std::string(usageText));
  EXPECT_FALSE(dir.exists("/x.kmp"));
  arguments.push_back("--allow-ed25519-over-sha1");
  ASSERT_EQ(pkgtool(arguments).exitStatus, 0);
  ProcessResult inspect = pkgtool({"inspect", dir.at("/x.kmp")});
  EXPECT_EQ(inspect.exitStatus, 0);
  EXPECT_TRUE(contains(inspect.out, "  digest: SHA-1 "));
}

TEST(Pkgtool, KeygenKeysSignAndVerifyOnlyAgainstTheirTrust) {
  SKIP_IF_SECURE_MARKER();
  TempRoot dir;
  writeDescription(dir);
  std::string base = dir.at("/mine");
  ProcessResult keygen = pkgtool({"keygen", base});
  ASSERT_EQ(keygen.exitStatus, 0) << keygen.err;
  EXPECT_EQ(keygen.out, "wrote " + base + ".key (private, keep it secret) and " + base + ".trust\n");
  struct stat status;
  ASSERT_EQ(stat((base + ".key").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  ProcessResult again = pkgtool({"keygen", base});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_EQ(again.err, "pkgtool: " + base + ".key or " + base + ".trust exists already; not overwriting keys\n");

  std::string out = dir.at("/mine.kmp");
  ASSERT_EQ(pkgtool({"build", "-o", out, "-d", dir.at("/src/hello.desc"), "--key", base + ".key", "--signature",
                     "both", "--version", "6.48"}).exitStatus, 0);
  ProcessResult compiled = pkgtool({"inspect", out});
  EXPECT_EQ(compiled.exitStatus, 1);
  EXPECT_TRUE(contains(compiled.out, "ed25519 invalid; legacy invalid (allowed for this package)\n  verdict: REFUSED\n"));
  ProcessResult own = pkgtool({"inspect", out, "--trust", base + ".trust"});
  EXPECT_EQ(own.exitStatus, 0) << own.out;
  EXPECT_TRUE(contains(own.out, "ed25519 valid; legacy valid (allowed for this package)\n  verdict: accepted\n"));
}

TEST(Pkgtool, BundleOfMembersWithAndWithoutMemberList) {
  SKIP_IF_SECURE_MARKER();
  TempRoot dir;
  writeDescription(dir);
  std::string a = dir.at("/a.kmp"), b = dir.at("/b.kmp"), bundle = dir.at("/bundle.kmp");
  ASSERT_EQ(buildHello(dir, a, {"--name", "alpha", "--version", "6.46.8", "--digest", "sha1", "--signature", "legacy"})
                .exitStatus, 0);
  ASSERT_EQ(buildHello(dir, b, {"--name", "beta"}).exitStatus, 0);
  ProcessResult made = pkgtool({"bundle", "-o", bundle, "--name", "set", "--version", "7.1", "--member-list", "all",
                                "--architecture", "mipsbe", a, b});
  ASSERT_EQ(made.exitStatus, 0) << made.err;
  ProcessResult inspect = pkgtool({"inspect", bundle});
  EXPECT_EQ(inspect.exitStatus, 0) << inspect.out;
  EXPECT_TRUE(contains(inspect.out, "bundle set 7.1 (0x07016600)\n"));
  EXPECT_TRUE(contains(inspect.out, "  member list (2 entries):\n  member: alpha min=- max=- priority=0\n"
                                    "  member: beta min=- max=- priority=0\npackage alpha 6.46.8"));
  EXPECT_TRUE(contains(inspect.out, "package beta 7.1.3"));

  ASSERT_EQ(pkgtool({"bundle", "-o", bundle, "--name", "set", "--version", "7.1", a, b}).exitStatus, 0);
  inspect = pkgtool({"inspect", bundle});
  EXPECT_EQ(inspect.exitStatus, 0);
  EXPECT_EQ(inspect.out.find("member list"), std::string::npos);

  ProcessResult order = pkgtool({"bundle", "-o", bundle, "--name", "set", "--version", "7.1", b, a});
  EXPECT_EQ(order.exitStatus, 1);
  EXPECT_EQ(order.err,
            "pkgtool: " + a + ": a SHA-1 member cannot follow a SHA-256 member; put the SHA-1 members first\n");
  ProcessResult nested = pkgtool({"bundle", "-o", dir.at("/nested.kmp"), "--name", "n", "--version", "1.0", bundle});
  EXPECT_EQ(nested.exitStatus, 1);
  EXPECT_EQ(nested.err, "pkgtool: " + bundle + ": not a stand-alone package (part 18 before its header)\n");
}

TEST(Pkgtool, InspectRefusesDamagedFiles) {
  TempRoot dir;
  writeDescription(dir);
  std::string out = dir.at("/hello.kmp");
  ASSERT_EQ(buildHello(dir, out).exitStatus, 0);
  std::string bytes = dir.readFile("/hello.kmp");
  std::string changed = bytes;
  changed[100] ^= 0x01;  // inside the note
  const std::pair<std::string, std::string> cases[] = {
      {bytes.substr(0, bytes.size() - 1), "  the last part ends 1 bytes after the end of the file\n"},
      {changed, "ed25519 invalid"},
      {"not a package at all", "magic: 0x20746f6e (not a package file)\n"},
  };
  for (const auto& c : cases) {
    dir.writeFile("/bad.kmp", c.first);
    ProcessResult inspect = pkgtool({"inspect", dir.at("/bad.kmp")});
    EXPECT_EQ(inspect.exitStatus, 1) << c.second;
    EXPECT_TRUE(contains(inspect.out, c.second)) << inspect.out;
  }
}

TEST(Pkgtool, BadArgumentsAndUnreadableInputs) {
  TempRoot dir;
  writeDescription(dir);
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string err;
  } cases[] = {
      {{}, 2, "pkgtool: no command\n"},
      {{"frob"}, 2, "pkgtool: unknown command frob\n"},
      {{"build", "-d", dir.at("/src/hello.desc")}, 2, "pkgtool: build: no output file (-o OUT)\n"},
      {{"build", "-o", dir.at("/x"), "--name"}, 2, "pkgtool: build: --name needs a value\n"},
      {{"build", "-o", dir.at("/x"), "--frob", "1"}, 2, "pkgtool: --frob: unknown setting \"frob\"\n"},
      {{"build", "-o", dir.at("/x"), "--version", "7.1"}, 2, "pkgtool: the description needs a name\n"},
      {{"build", "-o", dir.at("/x"), "--name", "n", "--version", "seven"}, 2,
       "pkgtool: --version: \"seven\" is not a version (7.1.3, 7.1rc2, 0x07010303)\n"},
      {{"build", "-o", dir.at("/x"), "--name", "seventeen-letters", "--version", "1.0"}, 2,
       "pkgtool: --name: needs a name of 1 to 16 bytes\n"},
      {{"build", "-o", dir.at("/x"), "--name", "n", "--version", "1.0", "--depends", "a min=x"}, 2,
       "pkgtool: --depends: \"min=x\" is not min=VERSION, max=VERSION or priority=NUMBER\n"},
      {{"build", "-o", dir.at("/x"), "--name", "n", "--version", "1.0"}, 1,
       "pkgtool: signing needs a key file (--key KEYFILE), or --signature none\n"},
      {{"build", "-o", dir.at("/x"), "-d", dir.at("/missing.desc")}, 1,
       "pkgtool: " + dir.at("/missing.desc") + ": cannot open: No such file or directory\n"},
      {{"build", "-o", dir.at("/x"), "--name", "n", "--version", "1.0", "--files", dir.at("/none")}, 2,
       "pkgtool: --files: " + dir.at("/none") + ": not a directory\n"},
      {{"build", "-o", dir.at("/x"), "--name", "n", "--version", "1.0", "--mode", "bin/x 755", "--signature", "none"}, 2,
       "pkgtool: mode: no file named \"bin/x\"\n"},
      {{"build", "-o", dir.at("/no/such/dir/x"), "--name", "n", "--version", "1.0", "--signature", "none"}, 1,
       "pkgtool: " + dir.at("/no/such/dir/x") + ": cannot write: No such file or directory\n"},
      {{"bundle", "-o", dir.at("/x"), "--name", "n", "--version", "1.0"}, 2,
       "pkgtool: bundle: no member package files\n"},
      {{"bundle", "-o", dir.at("/x"), "--name", "n", "--version", "1.0", "--note", "x", dir.at("/m")}, 2,
       "pkgtool: --note: unknown setting \"note\" for a bundle\n"},
      {{"inspect"}, 2, "pkgtool: inspect: no package file\n"},
      {{"inspect", dir.at("/missing.kmp")}, 1,
       "pkgtool: " + dir.at("/missing.kmp") + ": cannot open: No such file or directory\n"},
      {{"inspect", dir.at("/src/hello.sh"), "--trust", dir.at("/missing.trust")}, 1,
       "pkgtool: " + dir.at("/missing.trust") + ": cannot open: No such file or directory\n"},
      {{"keygen"}, 2, "pkgtool: keygen: no output name\n"},
  };
  for (const Case& c : cases) {
    ProcessResult result = pkgtool(c.arguments);
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    EXPECT_EQ(result.exitStatus, c.status) << shown;
    // Argument errors (status 2) are followed by the usage text.
    EXPECT_EQ(result.err, c.status == 2 ? c.err + usageText : c.err) << shown;
    EXPECT_EQ(result.out, "") << shown;
  }
  EXPECT_FALSE(dir.exists("/x"));
}

TEST(Pkgtool, FilesFromATreeKeepKindsAndModes) {
  TempRoot dir;
  dir.writeFile("/tree/bin/tool", "#!/bin/sh\n", 0755);
  dir.writeFile("/tree/etc/tool.conf", "a=b\n", 0600);
  ASSERT_EQ(chmod(dir.at("/tree/bin").c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.at("/tree/etc").c_str(), 0750), 0);
  ASSERT_EQ(symlink("tool", dir.at("/tree/bin/t").c_str()), 0);
  std::string out = dir.at("/tree.kmp");
  ProcessResult build = pkgtool({"build", "-o", out, "--name", "tree", "--version", "1.0", "--files", dir.at("/tree"),
                                 "--variant", "bin/tool 2", "--mode", "etc/tool.conf 640", "--key", devKey});
  ASSERT_EQ(build.exitStatus, 0) << build.err;
  ProcessResult inspect = pkgtool({"inspect", out});
  EXPECT_EQ(inspect.exitStatus, 0) << inspect.out;
  EXPECT_TRUE(contains(inspect.out, "  files (mode size variant name):\n"
                             "    040755 0 0 bin\n"
                             "    120777 4 0 bin/t\n"
                             "    100755 10 2 bin/tool\n"
                             "    040750 0 0 etc\n"
                             "    100640 4 0 etc/tool.conf\n"
                                    "  digest: SHA-256 "))
      << inspect.out;
}

TEST(Pkgtool, PackageWithoutSignatureDoesNotInspectClean) {
  TempRoot dir;
  std::string out = dir.at("/bare.kmp");
  ASSERT_EQ(pkgtool({"build", "-o", out, "--name", "bare", "--version", "1.0", "--signature", "none"}).exitStatus, 0);
  ProcessResult inspect = pkgtool({"inspect", out});
  EXPECT_EQ(inspect.exitStatus, 1);
  EXPECT_TRUE(contains(inspect.out, "package bare has no signature part\n")) << inspect.out;
}

}  // namespace
