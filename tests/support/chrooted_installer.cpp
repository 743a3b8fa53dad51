#include "support/chrooted_installer.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Scaffolding the loader (and a sanitizer runtime) needs inside the root; remembers what it made.
class LoaderScaffold {
 public:
  explicit LoaderScaffold(const std::string& root) : base(root) {
    madeUsr = mkdir((base + "/usr").c_str(), 0755) == 0;
    madeProc = mkdir((base + "/proc").c_str(), 0555) == 0;
    madeLib = symlink("usr/lib", (base + "/lib").c_str()) == 0;
    madeLib64 = symlink("usr/lib64", (base + "/lib64").c_str()) == 0;
  }
  ~LoaderScaffold() {
    if (madeLib64) unlink((base + "/lib64").c_str());
    if (madeLib) unlink((base + "/lib").c_str());
    if (madeUsr) rmdir((base + "/usr").c_str());
    if (madeProc) rmdir((base + "/proc").c_str());
  }

 private:
  std::string base;
  bool madeUsr, madeProc, madeLib, madeLib64;
};

std::string slurp(int descriptor) {
  std::string text;
  char buffer[4096];
  lseek(descriptor, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(descriptor, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

[[noreturn]] void runChild(const std::string& root, const std::vector<std::string>& arguments, int binary,
                           int out, int err) {
  int input = open("/dev/null", O_RDONLY);
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("/usr", (root + "/usr").c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
      // Sanitizer builds read /proc/self/maps at start.
      mount("/proc", (root + "/proc").c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
      chroot(root.c_str()) != 0 || chdir("/") != 0) {
    dprintf(err, "test runner: cannot enter %s: %s\n", root.c_str(), std::strerror(errno));
    _exit(126);
  }
  dup2(input, 0);
  dup2(out, 1);
  dup2(err, 2);
  setenv("INSTALLER_SYSTEM_CONF", "/nonexistent/installer-system.conf", 1);
  unsetenv("board");
  unsetenv("arch");
  unsetenv("bootimage");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("installer"));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  fexecve(binary, argv.data(), environ);
  _exit(127);
}

}  // namespace

std::string chrootedRunSkipReason() {
  if (geteuid() != 0) return "needs root to change the installer's root directory";
  struct stat info;
  if (stat("/usr/lib", &info) != 0) return "no /usr/lib to bind into the test root";
  return std::string();
}

ProcessResult runInstallerInRoot(const std::string& root, const std::vector<std::string>& arguments) {
  ProcessResult result;
  LoaderScaffold scaffold(root);
  int binary = open(INSTALLER_BINARY, O_RDONLY | O_CLOEXEC);
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  if (binary < 0 || out == nullptr || err == nullptr) {
    result.err = "test runner: cannot prepare the run";
  } else {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = fork();
    if (child == 0) runChild(root, arguments, binary, fileno(out), fileno(err));
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    result.exitStatus = child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(fileno(out));
    result.err = slurp(fileno(err));
  }
  if (binary >= 0) close(binary);
  if (out != nullptr) std::fclose(out);
  if (err != nullptr) std::fclose(err);
  return result;
}
