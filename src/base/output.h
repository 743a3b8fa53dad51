// Output: where everything the installer prints goes.
//
// The messages, the status line and its progress bar, the spinner of a long
// commit, the package listing and the usage line go to standard output; the
// warnings about the settings file go to standard error. The code that owns
// a text writes its bytes here and never reaches for a stream itself, so a
// run can be handed an Output that keeps what it was told (the tests do)
// instead of the one that writes to the process's streams (StdioOutput).
//
// Standard output is buffered: `write` may hold the bytes back until
// `flush`, which is called wherever a text must be seen now (a status line
// redrawn in place, a message before a long step). Standard error is not:
// `writeError` is seen at once.
#pragma once

#include <string_view>

namespace installer {

class Output {
 public:
  virtual ~Output() = default;

  // Appends `text` to standard output.
  virtual void write(std::string_view text) = 0;
  // Pushes out everything written to standard output so far.
  virtual void flush() = 0;
  // Writes `text` to standard error, unbuffered.
  virtual void writeError(std::string_view text) = 0;
};

}  // namespace installer
