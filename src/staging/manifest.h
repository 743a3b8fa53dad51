// The manifest: a staged file set kept on disk ("/ram/MANIFEST") so that an
// upgrade run with --safe can leave its work for a later --commit or
// --cancel run.
//
// One line per entry, in path order, each ended by a line feed:
//   "U <path>"            the path is removed        (Delete)
//   "L <path> <target>"   the path becomes a link    (Symlink)
//   "M <path> <target>"   target is moved to path    (Move and Write)
// Copy entries exist only during a commit and get no line. Fields are
// separated by one space; inside a field every byte below 0x21, 0x7F and the
// backslash are written as a backslash and three octal digits ("\040" for a
// space, "\012" for a line feed, "\134" for a backslash), so any path fits
// on one line. A backslash not followed by three such digits is read as
// itself. The set read back holds Move entries only: the manifest owns no
// temporary file, so cancelling a read set deletes nothing.
#pragma once

#include <string>

#include "staging/staged_files.h"

namespace installer {

// Writes the set to `path`, replacing any earlier manifest as a whole (a
// reader sees the old or the new one, never a part), and hands the set's
// temporary files over to it. Fails, with the old file left in place and
// the temporary files still the set's, when it could not be written.
Status writeManifest(StagedFiles& staged, const std::string& path);

// The hex SHA-256 of the manifest that `staged` makes.
std::string manifestDigest(const StagedFiles& staged);

// The hex SHA-256 of the file at `path` ("" when it cannot be read): what
// ties a manifest to its notes and to the journal of its commit.
std::string fileDigest(Env& env, const std::string& path);

// The entries in manifest form, the lines in path order.
std::string manifestText(const std::map<std::string, StagedOp>& entries);

// Adds the entries of the manifest at `path` to the set. Ok when the file
// was read to its end or to an empty line; a failure when it cannot be
// opened, when it is no regular file, or when a read fails (the system's
// reason), or when a "U", "L" or "M" line lacks a field (Corrupt; the
// entries before it stay in the set). Lines of other kinds are skipped.
Status readManifest(StagedFiles& staged, const std::string& path);

// One field in manifest form, and back.
std::string escapeManifestField(const std::string& field);
std::string unescapeManifestField(const std::string& field);

}  // namespace installer
