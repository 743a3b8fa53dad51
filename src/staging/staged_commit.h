// Carrying out a staged file set, and the byte copy it falls back on.
//
// The commit makes three passes over the set, each in path order: removals
// and links first, then renames, then copies for the renames that crossed
// file systems. The set stays owned by the caller; the commit only turns
// entries whose rename crossed file systems into Copy entries. One text
// spinner runs on across every copy of a commit.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"
#include "staging/staged_files.h"

namespace installer {

// Carries out every entry of the set; a failing step is reported (perror
// "symlink", "rename" or " write failed") and the commit goes on with the
// next one. True when every link, rename and copy succeeded; removals of
// what is already gone, and the contents of a directory that cannot be
// removed, do not count as failures. `showSpinner` animates the copies.
// Afterwards the set's temporary files are no longer its own.
[[nodiscard]] bool commitStaged(StagedFiles& staged, bool showSpinner);

// The spinner "|/-\" on standard output: one character, overwritten in
// place at most every 20 ticks while copies go on.
class Spinner {
 public:
  explicit Spinner(Env& clock) : env(clock) {}
  // One step, taken after every chunk a copy has written.
  void step();

 private:
  Env& env;
  uint32_t lastTick = 0;  // 0 until the first step
  uint32_t index = 0;     // next character, 0..3
};

// Copies the regular file `source` byte for byte to `destination`. An
// existing destination keeps its permission bits; a new one takes the
// source's. False when the source is missing or not a regular file, or a
// file cannot be opened, read, written or closed; the destination may then
// hold part of the contents. `spinner`, when given, steps after each chunk.
[[nodiscard]] bool copyFile(Env& env, const std::string& source, const std::string& destination, Spinner* spinner);

}  // namespace installer
