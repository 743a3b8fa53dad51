// Looking into a squashfs image that sits inside a larger file, without
// extracting it: the file is attached to a free loop device at the image's
// offset, the device is mounted read-only, one path is looked up, and
// everything is taken down again before the call returns.
//
// The caller owns nothing afterwards: no mount, no attached loop device and
// no open descriptor outlives the call, whatever step failed. A failing
// system call is named in the failure by its own label ("loop-control",
// "GET_FREE", "dev open", "open", "SET_FD", "SET_OFFSET", "mount squash");
// nothing is printed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace installer {

// Looks for `fileInImage` (a full path below `mountPoint`) in the squashfs
// image that starts `imageOffset` bytes into `packagePath`. The mount point
// and its parent directory are created (mode 0755) when missing. Failed
// comes with `failure`: the step that failed, as the subject, and why.
//
// A symbolic link does not count as the file: it could point out of the image
// (for instance at the running system's copy of the same file) and would then
// say nothing about what the image itself holds.
[[nodiscard]] ImageFileResult lookIntoImage(const std::string& packagePath, uint32_t imageOffset,
                                            const std::string& mountPoint, const std::string& fileInImage,
                                            Status& failure);

}  // namespace installer
