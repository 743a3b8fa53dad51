#include "model/messages.h"

#include <cstdio>
#include <cstring>

#include "model/package_labels.h"

namespace installer {

namespace {

constexpr size_t wipeWidth = 79;
constexpr size_t progressWidth = 76;
const char hideCursor[] = "\x1b[?25l";
const char showCursor[] = "\x1b[?25h";

void wipeStatusLine(Output& output) {
  output.write("\r" + std::string(wipeWidth, ' ') + "\r");
  output.flush();
}

}  // namespace

void report(InstallerState& state, const char* prefix, const char* format, va_list args) {
  std::string text = prefix != nullptr ? prefix : "";
  char formatted[256] = "";
  std::vsnprintf(formatted, sizeof formatted, format, args);
  text += formatted;
  if (state.quiet) return;
  if (state.recordOnly) {
    state.messages.push_back(text);
    return;
  }
  Output& output = state.output;
  if (!state.statusLine.empty()) wipeStatusLine(output);
  output.write(text + '\n');
  output.flush();
  if (!state.statusLine.empty()) {
    output.write(state.statusLine);
    output.flush();
  }
  state.messages.push_back(text);
}

void warning(InstallerState& state, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(state, "WARNING: ", format, args);
  va_end(args);
}

void error(InstallerState& state, const char* format, ...) {
  setStatusLine(state, "");
  va_list args;
  va_start(args, format);
  report(state, "ERROR: ", format, args);
  va_end(args);
}

void info(InstallerState& state, const char* format, ...) {
  setStatusLine(state, "");
  va_list args;
  va_start(args, format);
  report(state, nullptr, format, args);
  va_end(args);
}

void setStatusLine(InstallerState& state, const std::string& text) {
  if (state.quiet || state.recordOnly || text == state.statusLine) return;
  // The old line's tail, when longer, is blanked out.
  size_t blanks = text.size() < state.statusLine.size() ? state.statusLine.size() - text.size() : 0;
  state.output.write(hideCursor + ("\r" + text) + std::string(blanks, ' ') + '\r' + showCursor);
  state.output.flush();
  state.statusLine = text;
}

std::string progressLine(const InstalledPackage& package, uint64_t position, uint32_t total) {
  std::string text = "installing ";
  if (package.disabled && package.bundle.name.empty()) text += " (disabled) ";
  text += displayLabel(package);
  text += " [";
  size_t width = text.size() < progressWidth ? progressWidth - text.size() : 0;
  // A header length smaller than the real size must not overfill the bar,
  // and a total of 0 (a wrapped header length) leaves it empty.
  if (position > total) position = total;
  uint64_t filled = total == 0 ? 0 : position * width / total;
  text.append(static_cast<size_t>(filled), '#');
  text.append(width - static_cast<size_t>(filled), ' ');
  text += "]";
  return text;
}

void showInstallProgress(InstallerState& state, const InstalledPackage& package, uint64_t position, uint32_t total) {
  setStatusLine(state, progressLine(package, position, total));
}

void reportInstallFailure(InstallerState& state, const InstalledPackage& package, const std::string& path,
                          const Status& failure) {
  std::string label = displayLabel(package);
  if (failure.is(Status::Kind::NoSpace)) {
    error(state, "installation of %s failed: disk is too small", label.c_str());
  } else if (failure.is(Status::Kind::DiskError)) {
    error(state, "installation of %s failed: disk error", label.c_str());
  } else {
    error(state, "installation of %s failed: could not create %s: %s", label.c_str(), path.c_str(),
          failure.reason().c_str());
  }
}

void reportSystemFailure(InstallerState& state, const Status& failure) {
  state.output.writeError(failure.toString() + "\n");
}

void reportBrokenPackage(InstallerState& state, const InstalledPackage& package) {
  error(state, "installation of %s failed: broken package", displayLabel(package).c_str());
}

}  // namespace installer
