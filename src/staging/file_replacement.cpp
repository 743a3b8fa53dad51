#include "staging/file_replacement.h"

#include <cerrno>

#include "base/path_text.h"

namespace installer {

namespace {

constexpr uint32_t replacementMode = 0644;

bool writeAndSync(Env& env, WritableFile& file, const std::string& name, const std::string& contents) {
  return env.changeMode(name, replacementMode) && file.append(contents.data(), contents.size()) && file.sync() &&
         file.close();
}

}  // namespace

bool replaceFile(Env& env, const std::string& path, const std::string& contents) {
  std::string temporary;
  std::unique_ptr<WritableFile> file = env.createTemporary(path + ".", temporary);
  if (!file) return false;
  if (!writeAndSync(env, *file, temporary, contents) || !env.rename(temporary, path)) {
    int saved = errno;
    file.reset();
    static_cast<void>(env.removeFile(temporary));
    errno = saved;
    return false;
  }
  // The rename itself is made durable by syncing the directory; a failure
  // here leaves the new contents in place, so it does not undo the success.
  static_cast<void>(env.syncPath(parentDirectory(path)));
  return true;
}

}  // namespace installer
