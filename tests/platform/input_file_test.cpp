#include "platform/input_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "support/temp_root.h"

namespace {

TEST(InputFile, ReadsAFileWholeAndSeeks) {
  TempRoot root;
  std::string contents(40000, 'a');
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>('a' + i % 26);
  root.writeFile("/data", contents);
  InputFile file(root.at("/data"));
  ASSERT_TRUE(file.is_open());
  char head[3];
  file.read(head, 3);
  EXPECT_EQ(std::string(head, 3), "abc");
  std::string rest(contents.size() - 3, '\0');
  file.read(&rest[0], static_cast<std::streamsize>(rest.size()));
  EXPECT_EQ(rest, contents.substr(3));
  EXPECT_EQ(file.get(), std::char_traits<char>::eof());
  EXPECT_FALSE(file.readError());
  file.clear();
  file.seekg(26 * 3 + 2);
  EXPECT_EQ(file.get(), 'c');
  file.seekg(1, std::ios::cur);
  EXPECT_EQ(file.get(), 'e');
  EXPECT_EQ(static_cast<long>(file.tellg()), 26 * 3 + 5);
}

// A missing file does not open; a directory reads as an error instead of
// ending the process; a FIFO without a writer reads as empty instead of hanging.
TEST(InputFile, MissingDirectoryAndFifo) {
  InputFile missing("/nonexistent/installer/input");
  EXPECT_FALSE(missing.is_open());
  EXPECT_TRUE(missing.fail());
  TempRoot root;
  root.makeDirs("/dir");
  ASSERT_EQ(mkfifo(root.at("/fifo").c_str(), 0600), 0);
  for (const char* name : {"/dir", "/fifo"}) {
    InputFile file(root.at(name));
    ASSERT_TRUE(file.is_open()) << name;
    std::string word;
    EXPECT_FALSE(file >> word) << name;
    EXPECT_EQ(file.readError(), std::string(name) == "/dir") << name;
  }
}

}  // namespace
