#include "staging/file_replacement.h"

#include "base/path_text.h"

namespace installer {

namespace {

constexpr uint32_t replacementMode = 0644;

Status writeAndSync(Env& env, WritableFile& file, const std::string& name, const std::string& contents) {
  Status done = env.changeMode(name, replacementMode);
  if (done.isOk()) done = file.append(contents.data(), contents.size());
  if (done.isOk()) done = file.sync();
  if (done.isOk()) done = file.close();
  return done;
}

}  // namespace

Status replaceFile(Env& env, const std::string& path, const std::string& contents) {
  std::string temporary;
  std::unique_ptr<WritableFile> file;
  Status done = env.createTemporary(path + ".", temporary, file);
  if (!done.isOk()) return done;
  done = writeAndSync(env, *file, temporary, contents);
  if (done.isOk()) done = env.rename(temporary, path);
  if (!done.isOk()) {
    file.reset();
    static_cast<void>(env.removeFile(temporary));
    return done;
  }
  // The rename itself is made durable by syncing the directory; a failure
  // here leaves the new contents in place, so it does not undo the success.
  static_cast<void>(env.syncPath(parentDirectory(path)));
  return Status::ok();
}

}  // namespace installer
