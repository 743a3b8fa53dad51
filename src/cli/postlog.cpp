#include "cli/postlog.h"

#include <cerrno>
#include <string>
#include <vector>

#include "platform/device_paths.h"
#include "platform/input_file.h"

namespace installer {

namespace {

constexpr size_t reservedBytes = 4096;

// A log longer than this is not loaded: it would only grow on every run.
constexpr uint64_t longestLog = 1024 * 1024;

// The log is a plain file or not there yet. Anything else standing at its
// path (a fifo would block the run, a device could feed it endless data, a
// link would have the log written over whatever it leads to) is a log that
// cannot be opened.
bool isFileOrMissing(Env& env, const char* path) {
  FileStatus info;
  if (!env.linkStatus(path, info)) return errno == ENOENT;
  return info.type == FileType::Regular;
}

std::vector<std::string> readCompleteLines(Env& env, const char* path) {
  std::vector<std::string> lines;
  if (!isFileOrMissing(env, path)) return lines;
  InputFile in(env, path, ReadLimits{false, true, longestLog});
  if (!in.is_open()) return lines;
  std::string line;
  // A line that meets the end of the file was never finished: leave it out.
  while (std::getline(in, line) && !in.eof()) lines.push_back(line);
  return lines;
}

void reserveSpace(Env& env, const char* path) {
  if (!isFileOrMissing(env, path)) return;
  std::unique_ptr<WritableFile> out = env.openWritable(path, WriteMode::Truncate, 0666);
  const std::string zeros(reservedBytes, '\0');
  // Only a reservation: a log that cannot take it is written or not at the end.
  if (out) static_cast<void>(out->append(zeros.data(), zeros.size()));
}

}  // namespace

void preparePostlog(InstallerState& state) {
  std::vector<std::string> lines = readCompleteLines(state.env, paths::postlog);
  // The old log comes first: it was written before anything this run said.
  state.messages.insert(state.messages.begin(), lines.begin(), lines.end());
  reserveSpace(state.env, paths::postlog);
  state.postlogPrepared = true;
}

bool writePostlog(InstallerState& state) {
  Env& env = state.env;
  if (!state.postlogPrepared && state.messages.empty()) return true;
  if (!isFileOrMissing(env, paths::postlog)) return false;
  WriteMode mode = state.postlogPrepared ? WriteMode::Truncate : WriteMode::Append;
  std::unique_ptr<WritableFile> out = env.openWritable(paths::postlog, mode, 0666);
  if (!out) return false;
  env.syncAll();
  std::string text;
  for (const std::string& message : state.messages) text += message + '\n';
  return out->append(text.data(), text.size()) && out->close();
}

}  // namespace installer
