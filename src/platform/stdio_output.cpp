#include "platform/stdio_output.h"

#include <cstdio>

namespace installer {

// A short write to a stream has nowhere to be reported: the stream is where
// it would be said.
void StdioOutput::write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void StdioOutput::flush() { std::fflush(stdout); }

void StdioOutput::writeError(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

}  // namespace installer
