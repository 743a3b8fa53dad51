// Messages and the progress line, all on standard output through the run's
// Output (state.output).
//
// Messages are single lines; a live status line (the progress bar) sits below
// them, so every message wipes the status line first and, for warnings, draws
// it again afterwards. Every message shown is also kept in the state's
// `messages`, which becomes the post-run log. With `quiet` nothing is shown
// and nothing is kept; with `recordOnly` messages are kept, not shown.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "model/installer_state.h"

#define INSTALLER_PRINTF(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))

namespace installer {

// The common body: prefix (may be null) + the formatted text, cut to 255
// characters, printed and recorded.
void report(InstallerState& state, const char* prefix, const char* format, va_list args) INSTALLER_PRINTF(3, 0);
void warning(InstallerState& state, const char* format, ...) INSTALLER_PRINTF(2, 3);
void error(InstallerState& state, const char* format, ...) INSTALLER_PRINTF(2, 3);
void info(InstallerState& state, const char* format, ...) INSTALLER_PRINTF(2, 3);

// Replaces the status line; "" erases it. Writes nothing when unchanged.
void setStatusLine(InstallerState& state, const std::string& text);

// "installing <label> [####    ]", 76 characters before the closing ']'.
// `position` is the byte offset reached in the package, `total` its size.
std::string progressLine(const InstalledPackage& package, uint64_t position, uint32_t total);
void showInstallProgress(InstallerState& state, const InstalledPackage& package, uint64_t position, uint32_t total);

// "installation of %s failed: ...", the wording chosen by `failure`: a full
// disk, a disk error, or the path that could not be created and why.
void reportInstallFailure(InstallerState& state, const InstalledPackage& package, const std::string& path,
                          const Status& failure);
// "subject: reason" on standard error: how a failed system call has always
// been shown, the subject naming the call ("rename").
void reportSystemFailure(InstallerState& state, const Status& failure);
// "installation of %s failed: broken package".
void reportBrokenPackage(InstallerState& state, const InstalledPackage& package);

}  // namespace installer
