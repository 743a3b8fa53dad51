#include "package/trust_keys.h"

#include <gtest/gtest.h>

#include "key_file.h"
#include "support/process_runner.h"
#include "support/test_root.h"

namespace installer {
namespace {

TEST(TrustKeys, CompiledFromTheDevelopmentTrustFile) {
  TrustKeys file;
  std::string error, directory = makeHostTempDir();
  ASSERT_TRUE(readTrustFile(SOURCE_DIR "/keys/development.trust", file, error)) << error;
  EXPECT_EQ(formatTrustFile(compiledTrustKeys()), formatTrustFile(file));
  // cmake/TrustFile.cmake in script mode, as the configure step runs it: a mistake names its line.
  const std::string key = "ed25519-public-key 9063a473c54a2c56ff958bcfaa3b21552ef536f042562e23d959f760296bc764\n";
  writeHostFile(directory + "/test.trust", "# comment\n\n" + key + key);
  std::string command = "cd " + directory + " && cmake -DINSTALLER_TRUST_FILE=test.trust -P ";
  ProcessResult result = runProcess("/bin/sh", {"-c", command + SOURCE_DIR "/cmake/TrustFile.cmake"});
  EXPECT_TRUE(result.exitStatus != 0 && !Env::posix().exists(directory + "/generated/trust_config.h"));
  EXPECT_NE(result.err.find("test.trust:4:"), std::string::npos) << result.err;
  removeHostTree(directory);
}

}  // namespace
}  // namespace installer
