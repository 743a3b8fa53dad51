#include "package/stream_progress.h"

#include "model/messages.h"

namespace installer {

void showInstallProgress(InstallerState& state, const InstalledPackage& package, const PackageStream& stream) {
  showInstallProgress(state, package, stream.position(), stream.totalSize);
}

}  // namespace installer
