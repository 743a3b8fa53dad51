// The build-time trust file: cmake/TrustFile.cmake run on its own in script
// mode, as the configure step runs it.
#include <gtest/gtest.h>

#include <string>

#include "support/process_runner.h"
#include "support/temp_root.h"

namespace {

const std::string edKey = "ed25519-public-key 9063a473c54a2c56ff958bcfaa3b21552ef536f042562e23d959f760296bc764\n";

ProcessResult runTrustFile(const TempRoot& dir, const std::string& contents) {
  dir.writeFile("/src/test.trust", contents);
  return runProcess("/bin/sh", {"-c", "cd '" + dir.at("/src") + "' && cmake -DINSTALLER_TRUST_FILE=" +
                                          dir.at("/src/test.trust") + " -P '" SOURCE_DIR "/cmake/TrustFile.cmake'"});
}

std::string words(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += " 0123abcd";
  return text;
}

TEST(TrustFile, DevelopmentFileHasEveryKey) {
  TempRoot dir;
  dir.makeDirs("/src");
  ProcessResult result =
      runProcess("/bin/sh", {"-c", "cd '" + dir.at("/src") +
                                       "' && cmake -DINSTALLER_TRUST_FILE=" SOURCE_DIR
                                       "/keys/development.trust -P '" SOURCE_DIR "/cmake/TrustFile.cmake'"});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  std::string header = dir.readFile("/src/generated/trust_config.h");
  EXPECT_NE(header.find("constexpr bool hasLegacyKeys = true;"), std::string::npos);
  EXPECT_NE(header.find("ed25519PublicKey[32] = {0x90, 0x63, 0xa4,"), std::string::npos);
  EXPECT_NE(header.find("legacyHashIv[8] = {0xcbbb9d5du, 0x629a292au,"), std::string::npos);
}

TEST(TrustFile, WithoutLegacyLinesNoLegacyKeys) {
  TempRoot dir;
  ProcessResult result = runTrustFile(dir, "# only the current key\n\n" + edKey);
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(dir.readFile("/src/generated/trust_config.h").find("constexpr bool hasLegacyKeys = false;"),
            std::string::npos);
}

TEST(TrustFile, MalformedFilesStopTheConfiguration) {
  const std::string legacyKey = "legacy-public-key " + std::string(64, 'a') + "\n";
  struct Case {
    std::string contents;
    std::string message;
  } cases[] = {
      {"", "ed25519-public-key is missing"},
      {"ed25519-public-key 1234\n", "test.trust:1: ed25519-public-key needs 64 hex digits (32 bytes)"},
      {edKey + edKey, "test.trust:2: ed25519-public-key given twice"},
      {"\n" + edKey + "frobnicate 1\n", "test.trust:3: unknown setting \"frobnicate\""},
      {edKey + legacyKey, "give all three or none"},
      {edKey + legacyKey + "legacy-hash-iv" + words(7) + "\nlegacy-hash-k" + words(64) + "\n",
       "legacy-hash-iv needs 8 words of 8 hex digits, found 7"},
      {edKey + legacyKey + "legacy-hash-iv" + words(8) + "\nlegacy-hash-k" + words(63) + " 0123abcx\n",
       "legacy-hash-k: \"0123abcx\" is not a word of 8 hex digits"},
  };
  for (const Case& c : cases) {
    TempRoot dir;
    ProcessResult result = runTrustFile(dir, c.contents);
    EXPECT_NE(result.exitStatus, 0) << c.contents;
    // cmake wraps long messages; compare with the line breaks taken out.
    std::string err;
    for (char ch : result.err) err += ch == '\n' ? ' ' : ch;
    std::string flat;
    for (size_t i = 0; i < err.size(); ++i) {
      if (err[i] == ' ' && !flat.empty() && flat.back() == ' ') continue;
      flat += err[i];
    }
    EXPECT_NE(flat.find(c.message), std::string::npos) << flat;
    EXPECT_FALSE(dir.exists("/src/generated/trust_config.h"));
  }
}

}  // namespace
