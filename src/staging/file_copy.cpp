// copyFile and its spinner.
#include <cerrno>
#include <cstdio>
#include <memory>

#include "staging/staged_commit.h"

namespace installer {

namespace {

constexpr size_t chunkSize = 16384;
constexpr uint32_t ticksPerStep = 20;
constexpr char spinnerCharacters[] = "|/-\\";

// An existing destination is emptied and keeps its permission bits; a new
// one is made with exactly the source's.
std::unique_ptr<WritableFile> openDestination(Env& env, const std::string& destination, uint32_t mode) {
  std::unique_ptr<WritableFile> file = env.openWritable(destination, WriteMode::CreateNew, mode);
  if (file || errno != EEXIST) return file;
  return env.openWritable(destination, WriteMode::Existing, 0);
}

bool copyContents(ReadableFile& from, WritableFile& to, Spinner* spinner) {
  static char buffer[chunkSize];
  for (;;) {
    long n = from.read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!to.append(buffer, static_cast<size_t>(n))) {
      std::perror(" write failed");
      return false;
    }
    if (spinner != nullptr) spinner->step();
  }
}

}  // namespace

void Spinner::step() {
  if (lastTick == 0) {
    lastTick = env.ticks();
    std::fputc(spinnerCharacters[index], stdout);
  } else {
    if (env.ticks() - lastTick <= ticksPerStep) return;
    // Catch up one step per chunk rather than jump to now.
    lastTick += ticksPerStep;
    std::fputc('\b', stdout);
    std::fputc(spinnerCharacters[index], stdout);
  }
  index = (index + 1) % 4;
  std::fflush(stdout);
}

bool copyFile(Env& env, const std::string& source, const std::string& destination, Spinner* spinner) {
  FileStatus info;
  if (!env.status(source, info) || info.type != FileType::Regular) return false;
  // The source is opened first, so that a source that cannot be read
  // leaves the destination untouched.
  std::unique_ptr<ReadableFile> from = env.openReadable(source);
  if (!from) return false;
  std::unique_ptr<WritableFile> to = openDestination(env, destination, info.mode & 07777);
  if (!to) return false;
  bool ok = copyContents(*from, *to, spinner);
  return to->close() && ok;
}

}  // namespace installer
