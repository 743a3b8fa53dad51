// The install run over one package stream: a stand-alone package or a bundle.
//
// installStream reads a package file (or standard input) once, with digests
// on, and installs what it carries: a stand-alone package through
// installPackage, or a bundle, whose own record it checks and records before
// installing every member through installPackage and marking the members
// that the new version of the bundle no longer carries for uninstall. All
// file work goes into the caller's StagedFiles; records go to the state.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <streambuf>
#include <string>

#include "pdb/installer_state.h"
#include "staging/staged_files.h"

// Result codes of installStream.
enum StreamResult : int {
  StreamInstalled = 0,
  // A stand-alone package failed, or the bundle's header, relations,
  // member list (longer than MaxBundleMembers), database directory or meta
  // files did.
  StreamFailed = 1,
  // The bundle was refused, a member failed, or something other than a
  // member, an architecture part or the end followed the members.
  StreamBundleFailed = 2,
  // The bundle carried no member.
  StreamNoMember = 3,
};

// The most members a bundle's member list (part 20) may name.
constexpr size_t MaxBundleMembers = 1024;

// Installs the stream `input`. `flags` holds the AcceptReason bits the run
// tolerates; `userChoices` maps names to the state the user chose (1 =
// disabled). `copySink`, when given, receives a copy of every byte read.
// `directoryOut` receives the database directory of a package that carries
// a squashfs image, `bootOut` whether an installed package's image is to
// become the boot image. `installedOut`, when given, receives on success a
// copy of the stand-alone package's record or of the bundle's own record,
// for messages about the stream as a whole. Returns a StreamResult.
[[nodiscard]] int installStream(InstallerState& state, StagedFiles& staged, std::istream& input, uint32_t flags,
                                const std::map<std::string, uint8_t>& userChoices, std::streambuf* copySink,
                                std::string* directoryOut, bool* bootOut, InstalledPackage* installedOut = nullptr);
