#include "cli/postlog.h"

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
  Status found = env.linkStatus(path, info);
  if (!found.isOk()) return found.is(Status::Kind::NotFound);
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
  std::unique_ptr<WritableFile> out;
  if (!env.openWritable(path, WriteMode::Truncate, 0666, out).isOk()) return;
  const std::string zeros(reservedBytes, '\0');
  // Only a reservation: a log that cannot take it is written or not at the end.
  static_cast<void>(out->append(zeros.data(), zeros.size()));
}

}  // namespace

void preparePostlog(InstallerState& state) {
  std::vector<std::string> lines = readCompleteLines(state.env, paths::postlog);
  // The old log comes first: it was written before anything this run said.
  state.messages.insert(state.messages.begin(), lines.begin(), lines.end());
  reserveSpace(state.env, paths::postlog);
  state.postlogPrepared = true;
}

Status writePostlog(InstallerState& state) {
  Env& env = state.env;
  if (!state.postlogPrepared && state.messages.empty()) return Status::ok();
  if (!isFileOrMissing(env, paths::postlog)) return Status::refused(paths::postlog, "not a regular file");
  WriteMode mode = state.postlogPrepared ? WriteMode::Truncate : WriteMode::Append;
  std::unique_ptr<WritableFile> out;
  Status done = env.openWritable(paths::postlog, mode, 0666, out);
  if (!done.isOk()) return done;
  env.syncAll();
  std::string text;
  for (const std::string& message : state.messages) text += message + '\n';
  done = out->append(text.data(), text.size());
  return done.isOk() ? out->close() : done;
}

}  // namespace installer
