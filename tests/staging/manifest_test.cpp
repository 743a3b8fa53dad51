// The manifest: its field escapes, the bytes written for each kind, what is
// read from well- and ill-formed files, and who owns the temporary files.
#include "staging/manifest.h"

#include <gtest/gtest.h>

#include "support/router_device.h"
#include "support/staging_env.h"

namespace installer {
namespace {

// Bytes below 0x21, 0x7F and the backslash are escaped, and read back; a
// backslash not followed by three octal digits of a byte reads as itself.
TEST(ManifestField, EscapesAndLiteralBackslashes) {
  std::string raw(" \n\x7f\\!~\xe9\0", 8), escaped("\\040\\012\\177\\134!~\xe9\\000");
  EXPECT_EQ(escapeManifestField(raw), escaped);
  EXPECT_EQ(unescapeManifestField(escaped), raw);
  EXPECT_EQ(unescapeManifestField("\\400 \\8 \\08 \\\\040 \\0128 \\377 \\12"), "\\400 \\8 \\08 \\  \n8 \xff \\12");
}

// One line per entry in path order (a Write is an "M" line, a Copy has
// none). The old file is replaced whole, or, when any step of the
// replacement fails, left as it was with no temporary file beside it and
// the failure telling why; only the sync of the directory, after the rename, may
// fail without undoing the change. Once written, the set's temporary files
// are the manifest's; until then they stay the set's to delete.
TEST(Manifest, WriteReplacesTheFileWholeOrNotAtAll) {
  // clang-format off
  const std::pair<EnvCall, size_t> faults[] = {  // the n-th call of a kind fails
      {EnvCall::OpenWrite, 1}, {EnvCall::ChangeMode, 1}, {EnvCall::Write, 1}, {EnvCall::Sync, 1}, {EnvCall::Rename, 1}, {EnvCall::Sync, 2}};
  // clang-format on
  const char* written =  // the tree shows the contents quoted
      "/ram/MANIFEST 644 \"M /a\\\\134b /ram/tmp\\nL /l lib\\\\001x\\nU /p/\\nM /p/i /i\\n\"\n/ram/tmp 644 \"\"\n";
  for (auto [call, n] : faults) {
    auto device = routerDevice(4096, 1 << 20);
    SimulatedDevice& env = *device;
    ASSERT_TRUE(plant(env, "/ram/MANIFEST:500@600 /ram/tmp="));
    env.failAt(call, n, ENOSPC);
    auto staged = std::make_unique<StagedFiles>(env);
    stageText(*staged, "M /p/i /i|U /p/|L /l lib\x01x|C /c /ram/t|W /a\\b /ram/tmp");
    Status result = writeManifest(*staged, "/ram/MANIFEST");
    EXPECT_EQ(result.isOk() || !result.is(Status::Kind::NoSpace), n == 2) << static_cast<int>(call);
    staged.reset();
    EXPECT_EQ(env.tree("/ram"), n == 2 ? written : "/ram/MANIFEST 600 <500 bytes sha256:c38c2bf3055c516a>\n");
  }
}

TEST(Manifest, Read) {
  // clang-format off
  struct Case { const char* text; bool ok; const char* entries; } cases[] = {
      {"U /old\nX /a /b\nu /c\nUU /d\nL /link text\nM /n\\040w /ram/t\\134\n", true, "L /link text|M /n w /ram/t\\|U /old"},  // other kinds are skipped
      {"M   /x    /y  more\nU /b", true, "U /b|M /x /y"},  // runs of spaces, a fourth field, no line feed at the end
      {"", true, ""},
      {"U /a\n\nU /b\n", true, "U /a"},                   // an empty line ends the manifest
      {"U /a\nL /link\nU /b\n", false, "U /a"},           // a missing field fails, keeping what came before
      {"U /a\nU\n", false, "U /a"}};
  // clang-format on
  auto device = routerDevice(4096, 1 << 20);
  for (const Case& c : cases) {
    ASSERT_TRUE(device->addFile("/ram/MANIFEST", c.text));
    StagedFiles staged(*device);
    EXPECT_EQ(readManifest(staged, "/ram/MANIFEST").isOk(), c.ok) << c.text;
    EXPECT_EQ(entriesText(staged), c.entries) << c.text;
  }
  // Only a regular file read to its end is a manifest: a directory reads as
  // empty, a fifo would block, and a read error is no end.
  ASSERT_TRUE(device->addSpecial("/ram/fifo") && device->addFile("/ram/MANIFEST", "U /a\n"));
  device->failAt(EnvCall::Read, device->calls(EnvCall::Read) + 1, EIO);
  StagedFiles staged(*device);
  for (const char* path : {"/ram/none", "/ram", "/ram/fifo", "/ram/MANIFEST"}) {
    EXPECT_FALSE(readManifest(staged, path).isOk()) << path;
  }
  EXPECT_TRUE(readManifest(staged, "/ram/none").is(Status::Kind::NotFound));
  EXPECT_TRUE(staged.empty());
}

}  // namespace
}  // namespace installer
