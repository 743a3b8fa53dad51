#include "support/process_runner.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cstdlib>

#include "support/test_root.h"

namespace installer {

namespace {

void redirect(const std::string& path, int target, int flags) {
  int descriptor = open(path.c_str(), flags, 0600);
  if (descriptor < 0) _exit(126);
  dup2(descriptor, target);
  close(descriptor);
}

void execChild(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::pair<std::string, std::string>>& environment) {
  for (const auto& variable : environment) setenv(variable.first.c_str(), variable.second.c_str(), 1);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input,
                         const std::vector<std::pair<std::string, std::string>>& environment) {
  std::string io = makeHostTempDir();
  writeHostFile(io + "/in", input);
  pid_t child = fork();
  if (child == 0) {
    redirect(io + "/in", 0, O_RDONLY);
    redirect(io + "/out", 1, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(io + "/err", 2, O_WRONLY | O_CREAT | O_TRUNC);
    execChild(program, arguments, environment);
  }
  ProcessResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  result.out = readHostFile(io + "/out");
  result.err = readHostFile(io + "/err");
  removeHostTree(io);
  return result;
}

}  // namespace installer
