// Bundles whose members were tampered with, as an attacker holding genuine
// signed packages would, beside the genuine bundles they were made from:
// the cases that the install run and pkgtool inspect must judge alike.
#pragma once

#include <string>
#include <vector>

namespace installer {

struct BundleCase {
  const char* what;
  std::string bytes;
  bool installs;              // with the default settings
  bool installsWhenRequired;  // with require-signed-bundles 1
  const char* inspectSays;    // what pkgtool inspect's report holds about it
};

// The bundle "suite" 7.2 of alpha and beta 7.2 (each with one file named
// after it), signed with a member table, without one (as pkgtool signed it
// before members were bound) and not at all; then the table-signed one with
// a member swapped for an older version or another package of the same
// length, two exchanged, one dropped or added, a byte changed that the
// member's own signature does not cover, or something unsigned between or
// after the members. The package "gamma" appears in two cases only: as the
// member put in alpha's place, and as the member added last.
std::vector<BundleCase> memberBindingCases();

}  // namespace installer
