#include "pdb/database_loader.h"

#include <memory>
#include <unordered_set>
#include <vector>

#include "model/messages.h"
#include "package/package_header.h"
#include "package/package_stream.h"
#include "platform/device_paths.h"
#include "platform/input_file.h"

namespace installer {

namespace {

// The header parts an image is read for; everything else is skipped.
const std::vector<uint32_t> imageParts = {BundleHeader, PackageHeader, Text24, Note, Dependencies, Provides, Conflicts};

// The package directories of the database in listing order: entries not
// beginning with ".", and only directories, so that a stray file there is
// not taken for a package. False when the database cannot be opened.
bool listPackageDirectories(Env& env, std::vector<std::string>& names) {
  std::vector<std::string> entries;
  if (!env.listDirectory(paths::databaseDir, entries).isOk()) return false;
  for (const std::string& name : entries) {
    if (name.empty() || name[0] == '.') continue;
    if (env.isDirectory(paths::databaseDir + name)) names.push_back(name);
  }
  return true;
}

// The sub-packages of a bundle image, each naming the bundle at its exact
// version, then the bundle. A member header that cannot be read ends the
// list, and so does a failed stream: what follows cannot be trusted to be
// a header at all, and the stream would not move past it. A bundle
// header that cannot be read gives a bare record, restored from its meta
// files like any package whose image is unreadable.
void appendBundle(InstallerState& state, const std::string& entry, std::unique_ptr<InstalledPackage> bundle,
                  PackageStream& stream) {
  if (!readPackageHeader(*bundle, stream)) {
    *bundle = InstalledPackage(entry);
  } else {
    DependencyRef ref;
    ref.name = bundle->name;
    ref.min = bundle->version;
    ref.max = bundle->version;
    while (stream.currentType == PackageHeader && !stream.fail()) {
      auto member = std::make_unique<InstalledPackage>("");
      if (!readPackageHeader(*member, stream)) break;
      member->bundle = ref;
      state.packages.push_back(std::move(member));
    }
  }
  state.packages.push_back(std::move(bundle));
}

void loadImage(InstallerState& state, const std::string& entry, const std::string& imageDir, bool fromRepo) {
  auto record = std::make_unique<InstalledPackage>(entry);
  std::string path = fromRepo ? imageDir + entry : packageDir(*record) + "image";
  // The image may be a link (to "/flash/bootimage"); only a regular file is
  // read, and only its header parts, which bound themselves.
  InputFile image(state.env, path, ReadLimits{true, true});
  if (!image.is_open()) return;
  PackageStream stream(image, false, nullptr);
  stream.wantedTypes = imageParts;
  stream.nextPart();
  if (stream.currentType == BundleHeader) {
    appendBundle(state, entry, std::move(record), stream);
    return;
  }
  // Kept even when the header cannot be read, but with nothing of what was
  // read: with version 0 it is then restored from its meta files alone.
  if (!readPackageHeader(*record, stream)) *record = InstalledPackage(entry);
  state.packages.push_back(std::move(record));
}

// Appends a record for every package directory in `entries` whose image
// opens: the image is `imageDir` + the directory name when `fromRepo`, else
// the directory's "image". A bundle image gives its sub-packages first,
// then the bundle.
void loadImagesOf(InstallerState& state, const std::vector<std::string>& entries, const std::string& imageDir,
                  bool fromRepo) {
  for (const std::string& entry : entries) loadImage(state, entry, imageDir, fromRepo);
}

}  // namespace

// The database directory is listed once: nothing changes it while it loads.
void loadDatabase(InstallerState& state, bool quiet, const std::string& architecture) {
  state.quiet = quiet;
  state.architecture = architecture;
  std::vector<std::string> entries;
  if (!listPackageDirectories(state.env, entries)) {
    warning(state, "could not open repo");
    return;
  }
  loadImagesOf(state, entries, paths::databaseDir, false);
  // Most devices have no repository: one look saves an open per package.
  if (state.env.exists(paths::imageRepository)) loadImagesOf(state, entries, paths::imageRepository, true);
  std::unordered_set<std::string> loaded;
  for (const auto& record : state.packages) {
    readPackageState(state.env, *record);
    loaded.insert(record->name);
  }
  for (const std::string& entry : entries) {
    if (loaded.count(entry) != 0) continue;
    auto record = std::make_unique<InstalledPackage>(entry);
    readPackageState(state.env, *record);
    state.packages.push_back(std::move(record));
  }
}

}  // namespace installer
