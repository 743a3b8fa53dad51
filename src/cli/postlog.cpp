#include "cli/postlog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>
#include <string>
#include <vector>

#include "platform/device_paths.h"
#include "platform/input_file.h"

namespace {

constexpr size_t reservedBytes = 4096;

bool postlogPrepared = false;

// The log is a plain file or not there yet. Anything else standing at its
// path (a fifo would block the run, a device could feed it endless data) is
// a log that cannot be opened.
bool isFileOrMissing(const char* path) {
  struct stat info;
  if (stat(path, &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

std::vector<std::string> readCompleteLines(const char* path) {
  std::vector<std::string> lines;
  if (!isFileOrMissing(path)) return lines;
  InputFile in(path);
  if (!in.is_open()) return lines;
  std::string line;
  // A line that meets the end of the file was never finished: leave it out.
  while (std::getline(in, line) && !in.eof()) lines.push_back(line);
  return lines;
}

void reserveSpace(const char* path) {
  if (!isFileOrMissing(path)) return;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return;
  const std::string zeros(reservedBytes, '\0');
  out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
}

}  // namespace

void preparePostlog(InstallerState& state) {
  std::vector<std::string> lines = readCompleteLines(paths::postlog);
  // The old log comes first: it was written before anything this run said.
  state.messages.insert(state.messages.begin(), lines.begin(), lines.end());
  reserveSpace(paths::postlog);
  postlogPrepared = true;
}

bool writePostlog(InstallerState& state) {
  if (!postlogPrepared && state.messages.empty()) return true;
  if (!isFileOrMissing(paths::postlog)) return false;
  std::ios::openmode mode = std::ios::binary | (postlogPrepared ? std::ios::trunc : std::ios::app);
  std::ofstream out(paths::postlog, std::ios::out | mode);
  if (!out.is_open()) return false;
  sync();
  for (const std::string& message : state.messages) out << message << '\n';
  out.flush();
  bool ok = out.good();
  out.close();
  return ok && !out.fail();
}
