// Where a package stream ended, compared with what its file header declared.
//
// The file header's length only scales the progress bar when the stream is
// read, so a stream cut short at a part boundary, or one with bytes after its
// last part, would otherwise pass unnoticed. The install run checks the end
// with this once it has reached it.
#pragma once

namespace installer {

class PackageStream;

// REQUIRES: `stream` has ended (nextPart returned -1).
// True when the parts read end exactly at the declared length (the header's
// length + 8), the last of them complete, and nothing, not even part of a
// part header, followed them.
[[nodiscard]] bool endedAtDeclaredLength(const PackageStream& stream);

}  // namespace installer
