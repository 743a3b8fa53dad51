#include "platform/input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_root.h"

namespace installer {
namespace {

// A read that fails ends the data like the end of the file, but says so; a
// FIFO without a writer opens at once instead of hanging the run.
TEST(InputFile, ReadsSeeksAndTellsAReadErrorFromTheEnd) {
  TestRoot root;
  std::string data, head(3, ' '), rest(36000, ' ');
  for (int i = 0; i < 40000; ++i) data += static_cast<char>('a' + i % 26);
  root.write("/data", data);
  ASSERT_EQ(mkfifo(root.host("/fifo").c_str(), 0600), 0);
  InputFile file(root.env(), "/data"), dir(root.env(), "/flash"), fifo(root.env(), "/fifo"), none(root.env(), "/x");
  file.read(&head[0], 3).read(&rest[0], 36000).seekg(1, std::ios::cur);  // most of `rest` bypasses the buffer
  EXPECT_TRUE(head + rest == data.substr(0, 36003) && file.get() == data[36004] && file.tellg() == 36005);
  EXPECT_TRUE(file.seekg(-1, std::ios::end) && file.get() == data.back() && file.get() == EOF && !file.readError() &&
              dir.get() == EOF && dir.readError() && fifo.get() == EOF && !fifo.readError() && none.fail());
}

}  // namespace
}  // namespace installer
