// Carrying out a staged file set, and the byte copy it falls back on.
//
// The commit makes three passes over the set, each in path order: removals
// and links first, then renames, then copies for the renames that crossed
// file systems. The set stays owned by the caller; the commit only turns
// entries whose rename crossed file systems into Copy entries. The copy's
// text spinner is process-wide state, so that one spinner runs on across
// every file of a commit.
#pragma once

#include <cstdint>
#include <string>

#include "staging/staged_files.h"

// Carries out every entry of the set; a failing step is reported (perror
// "symlink", "rename" or " write failed") and the commit goes on with the
// next one. True when every link, rename and copy succeeded; removals of
// what is already gone, and the contents of a directory that cannot be
// removed, do not count as failures. `showSpinner` animates the copies.
[[nodiscard]] bool commitStaged(StagedFiles& staged, bool showSpinner);

// Copies the regular file `source` byte for byte to `destination`. An
// existing destination keeps its permission bits; a new one takes the
// source's. False when the source is missing or not a regular file, or a
// file cannot be opened, read, written or closed; the destination may then
// hold part of the contents.
[[nodiscard]] bool copyFile(const std::string& source, const std::string& destination, bool showSpinner);

// A clock in ticks of the times() call, offset by 30000; only differences
// matter.
uint32_t tickCount();

// The spinner "|/-\": one character, overwritten in place at most every 20
// ticks while copies go on.
struct SpinnerState {
  uint32_t lastTick = 0;  // 0 until the first step
  uint32_t index = 0;     // next character, 0..3
};
SpinnerState& spinnerState();
// One step, called after every chunk a copy has written.
void spinnerStep();
