// The journal of a commit: its plan, kept on flash while the commit runs.
//
// The journal is written whole (a reader sees all of it or none) and on the
// storage before the commit changes anything, and removed once every change
// is on the storage; a run that finds it finishes the commit. It is a text
// file, one line per item, fields separated by one space and escaped as in
// the manifest:
//   installer-journal 1
//   manifest HEX                       the commit carries out this manifest
//   package LENGTH HEX PATH            a package file (by order: 0, 1, ...)
//   remove INODE PATH
//   link PATH TEXT
//   rename INODE PATH SOURCE           INODE "-": a link the commit makes
//   copy SIZE MODE HEX PACKAGE MEMBER RECORD PATH SOURCE TEMPORARY
//                                      PACKAGE "-": none
//   end HEX                            SHA-256 of every byte before this line
// HEX is a SHA-256 in 64 lower-case hexadecimal digits, MODE octal. The
// steps stand in the order they are carried out.
//
// A journal is read only from a regular file of at most 8 MiB, and only
// when every line is well formed, the digest at its end matches, and every
// path lies where the commit may act: what changes is below "/flash/",
// with no "." or ".." in its name and not one of the installer's own
// files; what is moved or copied in, and package files, lie below
// "/flash/", "/rw/", "/ram/" or "/tmp/" (package files: "/flash/" or
// "/rw/"). Anything else is refused as a whole.
#pragma once

#include <string>

#include "platform/env.h"
#include "staging/commit_plan.h"

namespace installer {

std::string journalText(const CommitPlan& plan);

enum class JournalRead {
  Absent,      // no journal
  Unreadable,  // it is there but could not be read (`why`: the system's reason); try again later
  Refused,     // not a journal this installer wrote: `why` says what is wrong
  Read,
};

[[nodiscard]] JournalRead readJournal(Env& env, const std::string& path, CommitPlan& plan, std::string& why);

std::string hexDigest(const Sha256& digest);

}  // namespace installer
