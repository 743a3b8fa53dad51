#include "support/scratch_mount.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

ScratchMount::ScratchMount(const std::string& directory, unsigned long sizeBytes) : where(directory) {
  mkdir(directory.c_str(), 0755);
  std::string options = "size=" + std::to_string(sizeBytes) + ",mode=0755";
  if (mount("tmpfs", directory.c_str(), "tmpfs", 0, options.c_str()) == 0) {
    isMounted = true;
  } else {
    reason = std::string("mount on ") + directory + ": " + std::strerror(errno);
  }
}

ScratchMount::~ScratchMount() {
  if (isMounted) umount2(where.c_str(), MNT_DETACH);
}
