#include "staging/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "staging/staged_files.h"

namespace {

constexpr mode_t replacementMode = 0644;

// A new empty file beside `path`, or "" when none could be made.
std::string makeTemporaryBeside(const std::string& path) {
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int descriptor = mkstemp(name.data());
  if (descriptor < 0) return std::string();
  bool ok = fchmod(descriptor, replacementMode) == 0;
  close(descriptor);
  if (!ok) {
    int saved = errno;
    unlink(name.data());
    errno = saved;
    return std::string();
  }
  return name.data();
}

bool writeContents(const std::string& name, const std::string& contents) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.flush();
  bool ok = out.good();
  out.close();
  if (out.fail()) ok = false;
  if (!ok && errno == 0) errno = EIO;
  return ok;
}

// fsync through a descriptor of its own: the stream does not hand out one.
bool syncPath(const std::string& name, int flags) {
  int descriptor = open(name.c_str(), flags | O_CLOEXEC);
  if (descriptor < 0) return false;
  bool ok = fsync(descriptor) == 0;
  int saved = errno;
  close(descriptor);
  errno = saved;
  return ok;
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& contents) {
  std::string temporary = makeTemporaryBeside(path);
  if (temporary.empty()) return false;
  errno = 0;
  if (!writeContents(temporary, contents) || !syncPath(temporary, O_RDONLY) ||
      rename(temporary.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(temporary.c_str());
    errno = saved;
    return false;
  }
  // The rename itself is made durable by syncing the directory; a failure
  // here leaves the new contents in place, so it does not undo the success.
  syncPath(parentDirectory(path), O_RDONLY | O_DIRECTORY);
  return true;
}
