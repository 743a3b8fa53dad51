// The parts of a package file as the installer's reader meets them.
//
// pkgtool shows a file's structure (inspect) and picks a member package out
// of its file (bundle) by its part headers. They are read by a PackageStream
// that delivers every part, part 25 and types no reader knows included, so
// the tool walks a file exactly as the installer does and never decodes the
// layout a second time. Nothing is checked here: a part whose payload runs
// past the end of the file is listed like any other, with its length field
// as written; the callers decide what that means.
#pragma once

#include <cstdint>
#include <istream>
#include <vector>

namespace installer {

struct FilePart {
  uint64_t offset = 0;  // of the 6-byte part header
  uint16_t type = 0;
  uint32_t length = 0;  // the length field
  // One past the payload, as the length field claims it.
  uint64_t end() const;
};

struct PartList {
  // False when the source ended inside the 8-byte file header; nothing
  // else is then set.
  bool headerComplete = false;
  uint32_t magic = 0;
  uint32_t lengthField = 0;
  std::vector<FilePart> parts;  // in file order, up to the last complete part header
};

// Reads `in` from where it stands (the start of the file), whatever magic
// the file header carries.
PartList listFileParts(std::istream& in);

}  // namespace installer
