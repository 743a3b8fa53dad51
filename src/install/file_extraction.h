// Extraction of a package's files from its part 4 into the staged file set.
//
// The inflated part 4 is a sequence of file records (a 30-byte header, the
// name, the data; layout in package_format.h). Every regular file meant for
// this machine's processor variant is written to a staged temporary file
// for its destination below the root ("/flash", or the record's dbPrefix
// when that is not the standard database directory) and recorded in the
// package's `files` by its path below the root ("/bin/x"; "/x/foo/bin/x"
// for a disabled package foo). Directories, links and other entries are
// never created. Nothing is written in place.
//
// Names are checked for every record, written or not: a ".." component or
// a control byte marks the whole package as broken, so no file can be
// staged outside the root. A regular file that is to be written must also
// have a name that can be a file (not empty, not ending in "/" or ".", and
// within the system's path and name length limits).
#pragma once

#include <vector>

#include "model/installer_state.h"
#include "model/package_info.h"
#include "package/package_stream.h"
#include "staging/staged_files.h"

namespace installer {

// REQUIRES: stream is at part 4 (currentType == Files).
// True when the payload was read to its end (a record header cut short
// counts as the end). False after a failure, which has been reported
// ("installation of %s failed: broken package", or the write failure);
// files staged before it stay staged and in `files`. The stream is left
// inside part 4 either way.
[[nodiscard]] bool extractFiles(InstallerState& state, InstalledPackage& package, StagedFiles& staged,
                                PackageStream& stream);

// One record whose data is wanted, by its place in the payload (from 0).
struct RecordRequest {
  uint32_t record = 0;
  WritableFile* out = nullptr;
  bool written = false;  // all of its data went to `out`
};

// REQUIRES: stream is at part 4.
// Reads the payload through and writes the data of each requested record
// to its file, whatever the record is for. False when the payload is
// damaged before every request was met, or a write failed.
[[nodiscard]] bool extractRecords(PackageStream& stream, std::vector<RecordRequest>& requests);

// The path below the root for record name `name` of `package`.
std::string extractedPath(const InstalledPackage& package, const std::string& name);
// Where the files of `package` go: "/flash", or its dbPrefix.
std::string extractionRoot(const InstalledPackage& package);
// No ".." component and no control byte: safe to resolve below a root.
bool isSafeRecordName(const std::string& name);
// A name that a regular file can have at `destination`.
bool canNameFile(const std::string& name, const std::string& destination);

}  // namespace installer
