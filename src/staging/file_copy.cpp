// copyFile and its spinner.
#include "staging/file_copy.h"

#include <cstdio>
#include <memory>

namespace installer {

namespace {

constexpr size_t chunkSize = 16384;
constexpr uint32_t ticksPerStep = 20;
constexpr char spinnerCharacters[] = "|/-\\";

Status copyContents(ReadableFile& from, WritableFile& to, Spinner* spinner, bool& writeFailed) {
  static char buffer[chunkSize];
  for (;;) {
    size_t n = 0;
    Status read = from.read(buffer, sizeof buffer, n);
    if (!read.isOk() || n == 0) return read;
    Status written = to.append(buffer, n);
    if (!written.isOk()) {
      writeFailed = true;
      return written;
    }
    if (spinner != nullptr) spinner->step();
  }
}

}  // namespace

void Spinner::step() {
  if (lastTick == 0) {
    lastTick = env.ticks();
    output.write(std::string_view(&spinnerCharacters[index], 1));
  } else {
    if (env.ticks() - lastTick <= ticksPerStep) return;
    // Catch up one step per chunk rather than jump to now.
    lastTick += ticksPerStep;
    const char backAndNext[] = {'\b', spinnerCharacters[index]};
    output.write(std::string_view(backAndNext, sizeof backAndNext));
  }
  index = (index + 1) % 4;
  output.flush();
}

Status copyFile(Env& env, const std::string& source, WritableFile& to, Spinner* spinner, bool& writeFailed) {
  writeFailed = false;
  FileStatus info;
  Status found = env.status(source, info);
  if (!found.isOk()) return found;
  if (info.type != FileType::Regular) return Status::refused(source, "not a regular file");
  std::unique_ptr<ReadableFile> from;
  Status opened = env.openReadable(source, ReadLimits{true, true}, from);
  return opened.isOk() ? copyContents(*from, to, spinner, writeFailed) : opened;
}

}  // namespace installer
