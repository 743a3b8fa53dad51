// What the installer notes beside a manifest, in "/ram/installer.manifest":
// the digest of the manifest they belong to; whether it has been carried
// out; where the contents of its temporary files in "/ram" came from, so
// that its commit, too, can make them again after a power cut; and what
// each path it changes held when it was written, so that a --commit after
// other work changed those paths refuses instead of putting older files
// back. Notes whose digest is not the manifest's belong to another one and
// are not used. A manifest written by hand has none: it is carried out as
// it stands.
//
// Text, one item a line, fields escaped as in the manifest:
//   installer-manifest 1
//   digest HEX
//   state pending|committed
//   package PATH                      package files, by order: 0, 1, ...
//   origin FILE MEMBER RECORD TEMPORARY
//   before PATH INODE SIZE | before PATH -
//   end HEX                           SHA-256 of every byte before this line
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/env.h"
#include "staging/staged_files.h"

namespace installer {

struct ManifestNotes {
  std::string digest;  // hex SHA-256 of the manifest's text
  bool committed = false;
  std::vector<std::string> packageFiles;
  std::map<std::string, FileOrigin> origins;  // by temporary file
  std::map<std::string, std::string> before;  // by path: what identityOf gave
};

// What stands at `path`: "-" for nothing, else its inode and size.
std::string identityOf(Env& env, const std::string& path);

// The notes for `staged`, about to be written as a manifest with digest `digest`.
ManifestNotes notesFor(const StagedFiles& staged, const std::string& digest);

// Written whole or not at all; fails when they could not be.
Status writeManifestNotes(Env& env, const ManifestNotes& notes);

// The notes of the manifest with `digest`; false when there are none for it.
[[nodiscard]] bool readManifestNotes(Env& env, const std::string& digest, ManifestNotes& notes);

// Gives the Move entries of a set read from the manifest the origins the
// notes hold for their sources.
void applyOrigins(const ManifestNotes& notes, StagedFiles& staged);

// The first path whose contents changed since the notes were taken, or "".
std::string changedSince(Env& env, const ManifestNotes& notes);

}  // namespace installer
