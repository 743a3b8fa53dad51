#include "package/stream_progress.h"

#include "rules/messages.h"

void showInstallProgress(const InstalledPackage& package, const PackageStream& stream) {
  showInstallProgress(package, stream.position(), stream.totalSize);
}
