#include "install/file_extraction.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/system_library.h"
#include "support/package_streams.h"
#include "support/recorded_output.h"
#include "support/router_device.h"

namespace installer {
namespace {

FileEntry file(const std::string& name, const std::string& data = "x", uint8_t variant = 0, uint16_t mode = 0100644) {
  return FileEntry{name, mode, variant, data};
}
std::string records(const std::vector<FileEntry>& files) { return encodeFilesPayload(files); }

// Data of more than two copy chunks, with a mark that a misplaced chunk would move.
const std::string big = std::string(16383, 'a') + "b" + std::string(23616, 'c');

// On PowerPC the processor variant comes from the processor version register, whatever the settings say; elsewhere
// from the settings' processor version.
#ifdef __powerpc__
constexpr bool variantFromRegister = true;
#else
constexpr bool variantFromRegister = false;
#endif

// The variant of the processor the tests run on, where it comes from the register: 0 (none) to 4, as
// INSTALLER_TEST_PROCESSOR_VARIANT gives it (scripts/cross-test.sh runs qemu's e300c3, whose PVR 0x00850010 is of
// variant 1, and says 1). Without it the test that asks fails: its outcome cannot be known.
int registerVariant() {
  const char* given = std::getenv("INSTALLER_TEST_PROCESSOR_VARIANT");
  if (given == nullptr || given[0] < '0' || given[0] > '4' || given[1] != '\0') {
    ADD_FAILURE() << "set INSTALLER_TEST_PROCESSOR_VARIANT to the processor variant of this machine, 0 (none) to 4";
    return -1;
  }
  return given[0] - '0';
}

// Extracts a part 4 of `payload` for foo-0.0 on a new device root whose
// processor version is `pvr` (0: no variant), the nth call of kind `failing`
// failing with `error`: "ok" or "failed", each recorded file with the mode
// and contents of its staged file (of 100 bytes or more: its size, after "?"
// unless they are the start of `big`), then what failed after "| ".
std::string extract(const std::string& payload, uint32_t pvr = 0, bool disabled = false,
                    EnvCall failing = EnvCall::Read, size_t nth = 0, int error = 0) {
  auto device = routerDevice(4096, 1 << 20);
  SimulatedDevice& env = *device;
  env.failAt(failing, nth, error);
  openSystemLibrary(env, SystemSettings{false, false, {}, 0, true, pvr});  // the processor version only
  RecordedOutput output;
  InstallerState state(env, output);
  StagedFiles staged(env);
  InstalledPackage package("foo");
  package.disabled = disabled;
  PackageWriter writer;
  writer.addPart(Files, payload);
  OpenedStream opened(writer.bytes(), {Files});
  bool ok = extractFiles(state, package, staged, opened.stream);
  bool shown = output.printed.find("foo-0.0 [") != std::string::npos;
  openSystemLibrary(Env::posix(), SystemSettings());
  std::string trace = ok ? "ok" : "failed";
  for (const std::string& path : package.files) {
    const StagedOp* op = staged.find("/flash" + path);
    FileStatus status;
    if (op == nullptr || op->kind != StagedKind::Write || !env.status(op->target, status).isOk())
      return trace + " lost";
    std::string contents;
    EXPECT_TRUE(env.read(op->target, contents)) << op->target;
    std::string n = std::to_string(contents.size());
    char mode[8];
    std::snprintf(mode, sizeof mode, ":%o=", status.mode & 0777);
    trace += " " + path + mode + (n.size() < 3 ? contents : (big.compare(0, contents.size(), contents) ? "?" : "") + n);
  }
  if (staged.size() != package.files.size() || (ok && !package.files.empty() && !shown)) trace += " unrecorded";
  for (const std::string& message : state.messages) trace += " | " + message.substr(message.find("failed: ") + 8);
  return trace;
}

TEST(ExtractFiles, Outcomes) {
  forEachInflateBackend([] {
    std::string first = encodeFileRecord(file("first")), name = encodeFileRecord(file("bin/name"));
    std::string cut = encodeFileRecord(file("bin/big", big)), dir = encodeFileRecord(file("d/", "data", 0, 040755));
    EXPECT_EQ(extract(records({file("bin/x", "#!/bin/sh"), file("/etc/conf", "a=1"), file("empty", ""), file("./dot"),
                               file("a//b"), file("..dots/..."), file("bin/tool", "t", 0, 0100750)})),
              "ok /..dots/...:644=x /./dot:644=x /a//b:644=x /bin/tool:750=t /bin/x:644=#!/bin/sh /empty:644= "
              "/etc/conf:644=a=1");
    EXPECT_EQ(extract(records({file("bin/x"), file("/etc/y")}), 0, true), "ok /x/foo/bin/x:644=x /x/foo/etc/y:644=x");
    std::string variants = records({file("v1", "1", 1), file("v2", "2", 2), file("v3", "3", 3), file("v4", "4", 4),
                                    file("all"), file("v9", "9", 9)});
    if (variantFromRegister) {  // the settings' processor version is not read
      int variant = registerVariant();
      std::string n = std::to_string(variant), mine = variant > 0 ? " /v" + n + ":644=" + n : "";
      EXPECT_EQ(extract(variants, 0x13020000), "ok /all:644=x" + mine);
      EXPECT_EQ(extract(variants), "ok /all:644=x" + mine);
    } else {
      EXPECT_EQ(extract(variants, 0x13020000), "ok /all:644=x /v3:644=3");
      EXPECT_EQ(extract(variants, 0x80830000), "ok /all:644=x /v1:644=1");
      EXPECT_EQ(extract(variants), "ok /all:644=x");
    }
    // Cut in a name, in data (what was written stays staged and recorded), in a record header or in the data of a
    // directory, which is never created (the end).
    EXPECT_EQ(extract(deflateBytes(first + name.substr(0, 30 + 5))), "failed /first:644=x | broken package");
    EXPECT_EQ(extract(deflateBytes(first + cut.substr(0, cut.size() - 1))),
              "failed /bin/big:644=32768 /first:644=x | broken package");
    EXPECT_EQ(extract(deflateBytes(first + name.substr(0, 12))), "ok /first:644=x");
    EXPECT_EQ(extract(deflateBytes(first + dir.substr(0, dir.size() - 2))), "ok /first:644=x");
    // (The first open and write of a run record the directory of its temporary files.)
    std::string bigFirst = records({file("bin/x", big), file("never")});
    EXPECT_EQ(extract(bigFirst, 0, false, EnvCall::OpenWrite, 2, ENOENT),
              "failed | could not create bin/x: No such file or directory");
    EXPECT_EQ(extract(bigFirst, 0, false, EnvCall::Write, 2, ENOSPC), "failed /bin/x:644= | disk is too small");
    EXPECT_EQ(extract(bigFirst, 0, false, EnvCall::Write, 3, EIO), "failed /bin/x:644=16384 | disk error");
  });
}

TEST(ExtractFiles, RefusedNamesBreakThePackage) {
  forEachInflateBackend([] {
    std::string longest;  // "/flash/" and this are PATH_MAX - 1 bytes, in components of 99
    for (size_t i = 0; longest.size() < PATH_MAX - 8; ++i) longest += i % 100 == 99 ? '/' : 'p';
    // A variant that is not this machine's (3 by the settings below, or the register's).
    uint8_t foreign = variantFromRegister && registerVariant() == 1 ? 2 : 1;
    EXPECT_EQ(extract(records({file(longest), file("a/" + std::string(NAME_MAX, 'n'))})).substr(0, 3), "ok ");
    for (const FileEntry& bad :
         {file("../../etc/x"), file("bin/../../x"), file("/.."), file("../../etc/", "", 0, 040755),
          file("../x", "not for this machine", foreign), file("ctl\nname"), file(std::string("\0", 1)), file("del\x7f"),
          file(""), file("dir/"), file("/"), file("a/."), file("."), file("a/" + std::string(NAME_MAX + 1, 'n')),
          file(longest + "p")}) {
      EXPECT_EQ(extract(records({file("ok"), bad, file("never")}), 0x13020000), "failed /ok:644=x | broken package");
    }
  });
}

}  // namespace
}  // namespace installer
