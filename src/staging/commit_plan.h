// The plan of a commit: the staged set as steps in the order they are
// carried out, each with what a later run needs to finish it after a power
// cut, and to tell a step that is done from one still to do and from one
// whose source is lost.
//
// The order: removals and links in path order, then renames on one file
// system in path order, then copies across file systems (smallest growth
// first, so that the flash never holds more than at the start or at the
// end), then the renames of package files that copies are made from. A
// copy whose source lies in "/ram" or "/tmp" names the package file (on
// flash) its contents came from, so that they can be made again when a
// power cut has taken the source; a file there that nothing can make again
// (a database file written by the run, say) is copied beside its
// destination before anything changes and then renamed like any other.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "staging/staged_files.h"

namespace installer {

using Sha256 = std::array<uint8_t, 32>;

enum class StepKind { Remove, Link, Rename, Copy };

// A package file whose contents copies may be made from again.
struct PackageFileRef {
  std::string path;
  uint64_t length = 0;
  Sha256 digest{};  // of the whole file
};

struct CommitStep {
  StepKind kind = StepKind::Remove;
  std::string path;    // where the step acts: clean, below "/flash/"
  std::string source;  // Link: the link text; Rename, Copy: what is moved or copied in
  // Remove: the inode the path had; Rename: the source's (0: a link that
  // the work itself makes first).
  uint64_t inode = 0;
  // Copy: the contents are copied to `temporary` beside the path, then
  // renamed in; `size`, `mode` and `digest` are what the path ends up with.
  std::string temporary;
  uint64_t size = 0;
  uint32_t mode = 0;
  Sha256 digest{};
  int package = -1;  // the package file to make the contents again from; -1: none
  uint32_t member = 0;
  uint32_t record = 0;
  // For planning only, not kept in the journal:
  bool copyFirst = false;     // a Rename whose source in "/ram" must first be copied beside the path
  uint64_t replacedSize = 0;  // what the path holds now
};

struct CommitPlan {
  std::vector<PackageFileRef> packages;
  std::vector<CommitStep> steps;
  std::string manifestDigest;  // hex digest of the manifest this commit carries out; empty for a run's own work
};

// Builds the plan of `staged`. With `measure`, the lengths and digests of
// the package files and of the copies' sources are read (false for a
// estimate of the plan's size: they are left zero). Fails when a file to
// measure could not be read.
Status planCommit(const StagedFiles& staged, bool measure, CommitPlan& plan);

// The place beside `path` where a copy is made: its parent directory.
std::string copyDirectory(const std::string& path);

// Reads the regular file at `path` through: its length and SHA-256. Fails
// when it cannot be read.
Status measureFile(Env& env, const std::string& path, uint64_t& length, Sha256& digest);

// The SHA-256 of `bytes`.
Sha256 sha256Of(const std::string& bytes);

// The device of the nearest existing directory at or above `path`'s
// parent: the file system a file made at `path` lands on. False when none
// can be found.
bool destinationDevice(Env& env, const std::string& path, uint64_t& device);

}  // namespace installer
