// Parsing the header parts of a package file into a PackageInfo record.
//
// A package starts with its header part (1, or 18 for a bundle) followed by
// optional parts in a fixed order: 24, 16, 2, 23, 3, 19, 17, 21. The parser
// takes them in that order only; the first part that does not fit ends the
// header and is left current for the caller. Which of the optional parts
// reach the record depends on the `wantedTypes` the caller gave the stream.
//
// Names are checked here, because they become directory and file names in
// the package database: a record never gets a name that could leave its
// directory or confuse the line-oriented database files.
#pragma once

#include <string>
#include <vector>

#include "model/package_info.h"
#include "package/package_stream.h"

namespace installer {

// Parses the current header part and the optional parts behind it into
// `record`. False when the current part is not a header part, the header
// record is short or names an unacceptable package (name and version of
// the record then stay untouched), a text part is longer than
// `MaxHeaderTextLength`, or a dependency list cannot be read. A text part
// cut short by the end of the stream ends the header early with true; the
// stream is then failed, which the caller's next nextPart() reports.
[[nodiscard]] bool readPackageHeader(PackageInfo& record, PackageStream& stream);

// Reads the current part as a dependency list and appends its entries to
// `list`. False on a short read or an unacceptable name; the entries read
// before the failure stay appended.
[[nodiscard]] bool readDependencyList(PackageStream& stream, std::vector<DependencyRef>& list);

// A package name is usable as a directory name: not empty, not "." or "..",
// no "/", no control bytes, space or DEL, and not beginning with
// ".installer" (the installer's own files in the database directory).
bool isAcceptablePackageName(const std::string& name);
// A name in a dependency list: not empty, no "/", control bytes, space or DEL.
bool isAcceptableReferenceName(const std::string& name);

// The longest text part (24, 16, 2, 23) a header may carry.
constexpr uint32_t MaxHeaderTextLength = 1024 * 1024;

}  // namespace installer
