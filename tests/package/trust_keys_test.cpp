#include "package/trust_keys.h"

#include <gtest/gtest.h>

#include "key_file.h"
#include "support/host_files.h"
#include "support/process_runner.h"

namespace installer {
namespace {

TEST(TrustKeys, CompiledFromTheDevelopmentTrustFile) {
  TrustKeys file;
  std::string directory = makeHostTempDir();
  Status read = readTrustFile(SOURCE_DIR "/keys/development.trust", file);
  ASSERT_TRUE(read.isOk()) << read.toString();
  EXPECT_EQ(formatTrustFile(compiledTrustKeys()), formatTrustFile(file));
  // cmake/TrustFile.cmake in script mode, as the configure step runs it: a mistake names its line.
  const std::string key = "ed25519-public-key 9063a473c54a2c56ff958bcfaa3b21552ef536f042562e23d959f760296bc764\n";
  writeHostFile(directory + "/test.trust", "# comment\n\n" + key + key);
  std::string command = "cd " + directory + " && cmake -DINSTALLER_TRUST_FILE=test.trust -P ";
  ProcessResult result = runProcess("/bin/sh", {"-c", command + SOURCE_DIR "/cmake/TrustFile.cmake"});
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_FALSE(Env::posix().exists(directory + "/generated/trust_config.h")) << "a broken trust file makes no header";
  EXPECT_NE(result.err.find("test.trust:4:"), std::string::npos) << result.err;
  removeHostTree(directory);
}

// Configure warns about a build that trusts the development key, as a copy
// too; pkgtool tells it by either of its keys.
TEST(TrustKeys, TellTheDevelopmentKey) {
  std::string directory = makeHostTempDir();
  const std::string other = "ed25519-public-key " + std::string(64, '1') + "\n";
  writeHostFile(directory + "/copy.trust", readHostFile(SOURCE_DIR "/keys/development.trust"));
  writeHostFile(directory + "/other.trust", other);
  for (const char* file : {"copy.trust", "other.trust"}) {
    std::string command = "cd " + directory + " && cmake -DINSTALLER_TRUST_FILE=" + file + " -P ";
    ProcessResult result = runProcess("/bin/sh", {"-c", command + SOURCE_DIR "/cmake/TrustFile.cmake"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.err.find("must not be shipped") != std::string::npos, file[0] == 'c') << result.err;
  }
  TrustKeys keys = compiledTrustKeys();
  EXPECT_TRUE(trustsDevelopmentKey(keys));
  keys.hasLegacyKeys = false;
  EXPECT_TRUE(trustsDevelopmentKey(keys)) << "by its Ed25519 key alone";
  keys.ed25519Key[31] ^= 1;
  EXPECT_FALSE(trustsDevelopmentKey(keys));
  keys.hasLegacyKeys = true;
  EXPECT_TRUE(trustsDevelopmentKey(keys)) << "by its legacy key alone";
  keys.legacyKey[0] ^= 1;
  EXPECT_FALSE(trustsDevelopmentKey(keys));
  removeHostTree(directory);
}

// The build reads the trust file with cmake/TrustFile.cmake, pkgtool with
// its own reader: both must take and refuse the same files, or a key file
// that pkgtool signs with could be refused by the build, or the other way.
TEST(TrustKeys, BuildAndPkgtoolTakeTheSameFiles) {
  struct Row {
    const char* name;
    std::string text;
    bool valid;
  };
  const std::string development = readHostFile(SOURCE_DIR "/keys/development.trust");
  const std::string key = development.substr(development.find("ed25519-public-key"), 19 + 64);
  auto ivSeparatedBy = [&](const std::string& blank) {
    std::string text = development;
    size_t iv = text.find(' ', text.find("legacy-hash-iv ") + 15);
    return text.replace(iv, 1, blank);
  };
  std::string crlf;
  for (char c : development) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const Row rows[] = {
      {"bracket in a comment", "# [\n" + key + "\n# ]\n", true},
      {"comment ending in a backslash", "# \\\n" + key + "\n", true},
      {"CRLF lines", crlf, true},
      {"words apart by blanks and tabs", ivSeparatedBy(" \t "), true},
      {"vertical tab alone", key + "\n\v\n", false},
      {"vertical tab after the key", key + "\v\n", false},
      {"words apart by a vertical tab", ivSeparatedBy("\v"), false},
      {"words apart by a carriage return", ivSeparatedBy("\r"), false},
      {"words apart by a semicolon", ivSeparatedBy(";"), false},
  };
  std::string directory = makeHostTempDir();
  for (const Row& row : rows) {
    writeHostFile(directory + "/test.trust", row.text);
    TrustKeys keys;
    EXPECT_EQ(readTrustFile(directory + "/test.trust", keys).isOk(), row.valid) << row.name;
    std::string command = "cd " + directory + " && cmake -DINSTALLER_TRUST_FILE=test.trust -P ";
    ProcessResult result = runProcess("/bin/sh", {"-c", command + SOURCE_DIR "/cmake/TrustFile.cmake"});
    EXPECT_EQ(result.exitStatus == 0, row.valid) << row.name << ": " << result.err;
  }
  removeHostTree(directory);
}

}  // namespace
}  // namespace installer
