// Dependency closure and selection.
//
// Of several candidates for the same name, selectPackages keeps the best one
// (the newest, or in downgrade mode the oldest at or above a floor) and
// orders what it keeps so that a package follows what it needs.
// keepDependencies and keepProvider walk the dependencies of a package that
// is to stay active and cancel the uninstall or disable of its providers, or
// schedule their enable. These functions change only the `pending` field of
// records owned by the InstallerState, and the candidate list they are given.
#pragma once

#include <cstdint>
#include <vector>

#include "model/installer_state.h"

namespace installer {

// summarizeFate results.
constexpr int FateStays = 0;     // some provider stays or becomes active
constexpr int FateRemoved = 1;   // all are removed (also for no provider)
constexpr int FateDisabled = 3;  // none stays, at least one is or becomes disabled

// The floor that means "upgrade mode": the newest candidate wins.
constexpr uint32_t NoFloor = 0xFFFFFFFF;

// Whether `package` is active once the pending actions are carried out:
// enabled with nothing pending, or about to be enabled. An enabled package
// with a pending Enable stays enabled and so counts as active as well.
bool staysActive(const InstalledPackage& package);

// What becomes of a set of providers: FateStays, FateRemoved or FateDisabled.
int summarizeFate(const std::vector<InstalledPackage*>& providers);

// Reduces `list` to the best candidate of each name and orders it by
// dependencies. Any `floor` other than NoFloor selects downgrade mode: a
// candidate below it is refused with a warning (even when not verbose) and
// the oldest remaining candidate wins. The function only drops and reorders
// pointers; it owns none of them, so a caller that owns the candidates frees
// the ones no longer in `list`.
void selectPackages(InstallerState& state, std::vector<PackageInfo*>& list, uint32_t floor, bool verbose);

// Makes sure the bundle of `package` and one provider of each of its
// dependencies stay or become active. Stops at a dependency that nothing
// provides (the caller removes `package` then).
void keepDependencies(InstallerState& state, InstalledPackage& package, bool verbose);

// Keeps `provider` for `dependent`: cancels a pending uninstall or disable
// (with a warning when verbose), or schedules its enable when disabled, and
// then walks its own dependencies.
void keepProvider(InstallerState& state, InstalledPackage& provider, const InstalledPackage& dependent, bool verbose);

}  // namespace installer
