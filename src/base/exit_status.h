// The exit statuses of the installer, in one place.
//
// In standard-input mode the result of the install run is the exit status,
// so the results of installStream are statuses too.
#pragma once

namespace installer {

enum ExitStatus : int {
  ExitSuccess = 0,
  // A failed chroot, a failed upgrade run or commit step, a manifest that
  // could not be written or read; in standard-input mode a package that
  // failed or a bundle whose own record could not be written.
  ExitFailure = 1,
  // Standard input: the bundle was refused, a member failed, or something
  // other than a member, an architecture part or the end followed them.
  ExitBundleFailed = 2,
  // Standard input: the bundle carried no member.
  ExitBundleEmpty = 3,
  // The upgrade run's changes do not fit on the flash (ENOSPC).
  ExitNoSpace = 28,
  // Standard input: the image file could not be opened (255 to the shell).
  ExitImageUnavailable = -1,
};

}  // namespace installer
