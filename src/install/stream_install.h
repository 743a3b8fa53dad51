// The install run over one package stream: a stand-alone package or a bundle.
//
// installStream reads a package file (or standard input) once, with digests
// on, and installs what it carries: a stand-alone package through
// installPackage, or a bundle, whose own parts it checks (against their
// bundle signature, where there is one) and records before
// installing every member through installPackage (each checked against its
// row of the signed member table as it ends, where there is one) and
// marking the members that the new version of the bundle no longer carries
// for uninstall. All file work goes into the caller's StagedFiles; records
// go to the state.
#pragma once

#include <cstdint>
#include <istream>
#include <streambuf>
#include <string>

#include "base/exit_status.h"
#include "install/package_install.h"
#include "model/installer_state.h"
#include "staging/staged_files.h"

namespace installer {

// The most members a bundle's member list (part 20) may name.
constexpr size_t MaxBundleMembers = 1024;

struct StreamInstallRequest {
  uint32_t flags = 0;       // the AcceptReason bits the run tolerates
  UserChoices userChoices;  // the states users chose, by package name
  // Receives a copy of every byte read, as long as the stream may be kept as
  // an image: the copy stops after the header of a package or bundle that
  // carries no squashfs image.
  std::streambuf* copySink = nullptr;
  const TrustKeys* keys = nullptr;  // null: the keys built into the installer
};

struct StreamInstallResult {
  // ExitSuccess; ExitFailure when a stand-alone package failed, or the
  // bundle's header, relations, member list (longer than MaxBundleMembers),
  // database directory or meta files did; ExitBundleFailed when the bundle
  // was refused (also, reported as a broken package: for a bundle signature
  // part that does not verify, or a malformed member table; for no
  // signature, or one without a member table, where the settings require
  // signed bundles; for members that do not match the rows of the member
  // table one by one, in order and number, or anything after the last of
  // them), a member failed, or something other than a member, an
  // architecture part or the end followed the members; ExitBundleEmpty
  // when the bundle carried no member.
  ExitStatus status = ExitFailure;
  // The database directory of a package or bundle that carries a squashfs image.
  std::string imageDirectory;
  // Whether an installed package's image is to become the boot image.
  bool bootImage = false;
  // On success, a copy of the stand-alone package's record or of the
  // bundle's own record, for messages about the stream as a whole.
  InstalledPackage record;
};

// Installs the stream `input`.
[[nodiscard]] StreamInstallResult installStream(InstallerState& state, StagedFiles& staged, std::istream& input,
                                                const StreamInstallRequest& request);

}  // namespace installer
