// copyFile and its spinner.
#include "staging/file_copy.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace installer {

namespace {

constexpr size_t chunkSize = 16384;
constexpr uint32_t ticksPerStep = 20;
constexpr char spinnerCharacters[] = "|/-\\";

bool copyContents(ReadableFile& from, WritableFile& to, Spinner* spinner) {
  static char buffer[chunkSize];
  for (;;) {
    long n = from.read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!to.append(buffer, static_cast<size_t>(n))) {
      int saved = errno;
      std::perror(" write failed");
      errno = saved;
      return false;
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

bool copyFile(Env& env, const std::string& source, WritableFile& to, Spinner* spinner) {
  FileStatus info;
  if (!env.status(source, info) || info.type != FileType::Regular) return false;
  std::unique_ptr<ReadableFile> from = env.openReadable(source, ReadLimits{true, true});
  return from && copyContents(*from, to, spinner);
}

}  // namespace installer
