#include "support/process_runner.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cstdlib>

#include "support/host_files.h"

namespace installer {

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input,
                         const std::vector<std::pair<std::string, std::string>>& environment) {
  std::string io = makeHostTempDir();
  writeHostFile(io + "/in", input);
  pid_t child = fork();
  if (child == 0) {
    // The child's standard streams from and to the files; 126 when that
    // fails, 127 when the program does not start.
    const std::pair<const char*, int> streams[] = {
        {"/in", O_RDONLY}, {"/out", O_WRONLY | O_CREAT | O_TRUNC}, {"/err", O_WRONLY | O_CREAT | O_TRUNC}};
    for (int target = 0; target < 3; ++target) {
      int descriptor = open((io + streams[target].first).c_str(), streams[target].second, 0600);
      if (descriptor < 0 || dup2(descriptor, target) < 0) _exit(126);
      close(descriptor);
    }
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
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
