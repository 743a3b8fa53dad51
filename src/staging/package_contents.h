// PackageContents: where a commit gets the contents of files again that a
// power cut took, from the package file (on flash) they came from.
//
// The commit knows only where a file's record lies in a package file; the
// install layer, which reads package files, implements this and hands it
// in. The commit checks that the package file is the one it recorded
// (length and SHA-256) before it asks, and checks every file made against
// the digest it recorded before putting it in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

namespace installer {

class PackageContents {
 public:
  virtual ~PackageContents() = default;

  // One file wanted from the package file: the data of record `record` of
  // the payload of package `member` (0: the first or only package of the
  // file), to be written to `out`.
  struct Wanted {
    uint32_t member = 0;
    uint32_t record = 0;
    WritableFile* out = nullptr;
    bool written = false;  // set when all of the record's data went to `out`
  };

  // Reads the package file at `path` once, writes each wanted record's data
  // to its file, and checks the signature of every package it wrote from.
  // False, with `why` saying what went wrong, when the file cannot be read
  // or a signature does not verify; the files written then must not be used.
  [[nodiscard]] virtual bool extract(Env& env, const std::string& path, std::vector<Wanted>& wanted,
                                     std::string& why) = 0;
};

}  // namespace installer
