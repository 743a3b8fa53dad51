// copyFile and its spinner.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "staging/staged_commit.h"

namespace {

constexpr size_t chunkSize = 16384;
constexpr uint32_t ticksPerStep = 20;
constexpr uint32_t tickOffset = 30000;
constexpr char spinnerCharacters[] = "|/-\\";

// Read, repeating after a signal; -1 on error.
ssize_t readChunk(int descriptor, char* buffer, size_t size) {
  for (;;) {
    ssize_t n = read(descriptor, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Writes all of `size` bytes; a failed or empty write is reported.
bool writeChunk(int descriptor, const char* buffer, size_t size) {
  while (size > 0) {
    ssize_t n = write(descriptor, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      std::perror(" write failed");
      return false;
    }
    buffer += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A new destination is made with exactly the source's permission bits (the
// umask does not apply, just as for a file renamed into place); an existing
// one keeps its own.
int openDestination(const std::string& destination, mode_t mode) {
  int descriptor = open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (descriptor >= 0) {
    if (fchmod(descriptor, mode) != 0) {
      close(descriptor);
      return -1;
    }
    return descriptor;
  }
  if (errno != EEXIST) return -1;
  return open(destination.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
}

bool copyContents(int from, int to, bool showSpinner) {
  static char buffer[chunkSize];
  for (;;) {
    ssize_t n = readChunk(from, buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!writeChunk(to, buffer, static_cast<size_t>(n))) return false;
    if (showSpinner) spinnerStep();
  }
}

}  // namespace

uint32_t tickCount() {
  clock_t ticks = times(nullptr);
  if (ticks == static_cast<clock_t>(-1)) return static_cast<uint32_t>(-errno) + tickOffset;
  return static_cast<uint32_t>(ticks) + tickOffset;
}

SpinnerState& spinnerState() {
  static SpinnerState state;
  return state;
}

void spinnerStep() {
  SpinnerState& state = spinnerState();
  if (state.lastTick == 0) {
    state.lastTick = tickCount();
    std::fputc(spinnerCharacters[state.index], stdout);
  } else {
    if (tickCount() - state.lastTick <= ticksPerStep) return;
    // Catch up one step per chunk rather than jump to now.
    state.lastTick += ticksPerStep;
    std::fputc('\b', stdout);
    std::fputc(spinnerCharacters[state.index], stdout);
  }
  state.index = (state.index + 1) % 4;
  std::fflush(stdout);
}

bool copyFile(const std::string& source, const std::string& destination, bool showSpinner) {
  struct stat info;
  if (stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  // The source is opened first, so that a source that cannot be read
  // leaves the destination untouched.
  int from = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return false;
  int to = openDestination(destination, info.st_mode & 07777);
  if (to < 0) {
    close(from);
    return false;
  }
  bool ok = copyContents(from, to, showSpinner);
  close(from);
  if (close(to) != 0) ok = false;
  return ok;
}
