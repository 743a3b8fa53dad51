// The names the installer gives its temporary files: a run cleaning up
// after a crashed one removes what carries such a name, and nothing else.
#include "staging/temporary_files.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(TemporaryFiles, NameIsTmpAndSixLettersOrDigits) {
  struct Case {
    const char* path;
    bool temporary;
  } cases[] = {
      {"/flash/bin/tmpAb12Cz", true}, {"tmp000000", true},          {"/flash/bin/tmpAb-2Cz", false},
      {"/flash/tmpAb12C", false},     {"/flash/tmpAb12Cz9", false}, {"/flash/tmxAb12Cz", false},
      {"/flash/tmp.b12Cz", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isTemporaryName(c.path), c.temporary) << c.path;
}

}  // namespace
}  // namespace installer
