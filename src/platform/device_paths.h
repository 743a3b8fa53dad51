// Every fixed path on the device, in one place. Tests reach them through a
// changed root (-r ROOT), never by rewriting these.
#pragma once

namespace installer {

namespace paths {

// Package database and image repository.
constexpr char databaseDir[] = "/flash/var/pdb/";
constexpr char standardInputImage[] = "/flash/var/pdb//image";
constexpr char imageRepository[] = "/rw/pckg/.images/";
constexpr char scheduleDir[] = "/ram/pdb/";

// Package directories of the upgrade run, in the order they are tried.
constexpr char downloadDir[] = "/rw/pckg/.download/";
constexpr char flashPackageDir[] = "/flash/rw/pckg/";
constexpr char systemPackageDir[] = "/flash/var/pckg/";

// Markers read by the run.
constexpr char downloadIgnoreMarker[] = "/rw/pckg/.download/IGNORE";
constexpr char downgradeMarker[] = "/ram/DOWNGRADE";
constexpr char secureMarker[] = "/ram/SECURE";
constexpr char ipv6Marker[] = "/ram/ipv6";

// Markers and files written by the run.
constexpr char packagesChangedMarker[] = "/flash/PCKGS_CHANGED";
constexpr char convertMarker[] = "/rw/CONVERT";
constexpr char upgradedMarker[] = "/flash/UPGRADED";
constexpr char brandingInstalledMarker[] = "/flash/BRANDING_INSTALLED";
constexpr char bootImage[] = "/flash/bootimage";
constexpr char bootKernel[] = "/flash/boot/kernel";
constexpr char manifest[] = "/ram/MANIFEST";
constexpr char postlog[] = "/flash/postlog";

// Kept by the installer for itself: the lock of a run, the journal of a
// commit in progress, the names of the temporary files of staged work (those
// on flash recorded on flash, those in "/ram" or "/tmp" in "/ram"), and
// what it notes beside a manifest. The ones on flash are dot-files of the
// database directory, which the database loader passes over and where no
// package file may land (see isInstallerOwnPath).
constexpr char runLock[] = "/ram/installer.lock";
constexpr char commitJournal[] = "/flash/var/pdb/.installer-journal";
constexpr char temporaryRegistry[] = "/flash/var/pdb/.installer-temporaries";
constexpr char volatileTemporaryRegistry[] = "/ram/installer.temporaries";
constexpr char manifestNotes[] = "/ram/installer.manifest";
// Every name of the database directory that begins with this is the installer's.
constexpr char installerOwnPrefix[] = "/flash/var/pdb/.installer";

// Roots of the installed files and of the disk accounting.
constexpr char flashRoot[] = "/flash";
constexpr char flashDir[] = "/flash/";
constexpr char kernelDiskDir[] = "/flash/boot/";
constexpr char ramDir[] = "/ram";
constexpr char tmpDir[] = "/tmp";

// Branding and firmware checks.
constexpr char brandingProtectedMarker[] = "/pckg/branding/FORCE_DEFCONF_ON_RESET";
constexpr char brandingMountPoint[] = "/ram/branding";
constexpr char newBrandingProtectedMarker[] = "/ram/branding/FORCE_DEFCONF_ON_RESET";
constexpr char firmwarePackageProperty[] = "/sys/firmware/devicetree/base/firmware-package";
constexpr char loopControl[] = "/dev/loop-control";
constexpr char loopDeviceFormat[] = "/dev/loop%d";  // formatted with the number LOOP_CTL_GET_FREE gives
constexpr char flashDevice[] = "/dev/flash";

}  // namespace paths

}  // namespace installer
