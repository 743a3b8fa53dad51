#include "support/chroot_runner.h"

#include <gtest/gtest-spi.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>

namespace {

constexpr char fieldSeparator = '\x1f';
constexpr char recordSeparator = '\x1e';

void writeAll(int descriptor, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(descriptor, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

[[noreturn]] void runChild(const std::string& root, const std::function<void()>& body, int output) {
  std::ostringstream failures;
  if (chroot(root.c_str()) != 0 || chdir("/") != 0) {
    failures << "F" << fieldSeparator << __FILE__ << fieldSeparator << __LINE__ << fieldSeparator << "chroot into " << root
             << " failed" << recordSeparator;
  } else {
    testing::TestPartResultArray results;
    {
      testing::ScopedFakeTestPartResultReporter reporter(
          testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
      body();
    }
    for (int i = 0; i < results.size(); ++i) {
      const testing::TestPartResult& result = results.GetTestPartResult(i);
      if (!result.failed() && !result.skipped()) continue;
      failures << (result.skipped() ? "S" : "F") << fieldSeparator;
      failures << (result.file_name() ? result.file_name() : "?") << fieldSeparator << result.line_number()
               << fieldSeparator << result.message() << recordSeparator;
    }
  }
  std::fflush(stdout);
  std::fflush(stderr);
  writeAll(output, failures.str());
  _exit(0);
}

// Failures become failures of the parent's test; a skip inside the body
// (a missing kernel feature, say) is returned as the skip reason.
std::string reportFailures(const std::string& text) {
  std::stringstream records(text);
  std::string record;
  std::string skipReason;
  while (std::getline(records, record, recordSeparator)) {
    std::stringstream fields(record);
    std::string kind, file, line, message;
    std::getline(fields, kind, fieldSeparator);
    std::getline(fields, file, fieldSeparator);
    std::getline(fields, line, fieldSeparator);
    std::getline(fields, message, '\0');
    if (kind == "S") {
      skipReason = message;
      continue;
    }
    ADD_FAILURE_AT(file.c_str(), std::atoi(line.c_str())) << "(in chroot) " << message;
  }
  return skipReason;
}

}  // namespace

void runInChroot(const std::string& root, const std::function<void()>& body) {
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(channel[0]);
    runChild(root, body, channel[1]);
  }
  close(channel[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(channel[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::string skipReason = reportFailures(text);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the chrooted test body did not finish (status "
                                                             << status << ")";
  if (!skipReason.empty()) GTEST_SKIP() << "(in chroot) " << skipReason;
}
