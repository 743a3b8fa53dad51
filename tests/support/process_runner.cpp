#include "support/process_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string temporaryFile(const std::string& contents) {
  char name[] = "/tmp/installer-io-XXXXXX";
  int descriptor = mkstemp(name);
  if (descriptor < 0) std::abort();
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = write(descriptor, contents.data() + done, contents.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(descriptor);
  return name;
}

std::string slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void redirect(const std::string& path, int target, int flags) {
  int descriptor = open(path.c_str(), flags, 0600);
  if (descriptor < 0) _exit(126);
  dup2(descriptor, target);
  close(descriptor);
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input,
                         const std::vector<std::pair<std::string, std::string>>& environment) {
  std::string inPath = temporaryFile(input);
  std::string outPath = temporaryFile("");
  std::string errPath = temporaryFile("");
  pid_t child = fork();
  if (child < 0) {
    unlink(inPath.c_str());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return ProcessResult{-1, "", "fork failed"};
  }
  if (child == 0) {
    redirect(inPath, 0, O_RDONLY);
    redirect(outPath, 1, O_WRONLY | O_TRUNC);
    redirect(errPath, 2, O_WRONLY | O_TRUNC);
    for (const auto& variable : environment) {
      if (variable.second == "\x01unset") {
        unsetenv(variable.first.c_str());
      } else {
        setenv(variable.first.c_str(), variable.second.c_str(), 1);
      }
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ProcessResult result;
  int status = 0;
  waitpid(child, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = slurp(outPath);
  result.err = slurp(errPath);
  unlink(inPath.c_str());
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return result;
}

ProcessResult runInstaller(const std::vector<std::string>& arguments, const std::string& input,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
  std::vector<std::pair<std::string, std::string>> full = {
      {"INSTALLER_SYSTEM_CONF", "/nonexistent/installer-system.conf"},
      {"board", "\x01unset"},
      {"arch", "\x01unset"},
      {"bootimage", "\x01unset"},
  };
  // LeakSanitizer reads /proc when the program exits, and a root changed
  // with -r has none: sanitizer builds leave the leak check to the unit tests.
  if (std::find(arguments.begin(), arguments.end(), "-r") != arguments.end()) {
    full.emplace_back("ASAN_OPTIONS", "detect_leaks=0");
  }
  full.insert(full.end(), environment.begin(), environment.end());
  return runProcess(INSTALLER_BINARY, arguments, input, full);
}
