// Replacing a file so that readers never see it half written.
//
// The new contents go to a temporary file beside the destination, which is
// flushed to the storage and then renamed over the destination; after a
// power cut the path holds either the old or the new contents, never a
// mixture. On any failure the temporary file is removed and the destination
// is left as it was.
#pragma once

#include <string>

#include "platform/env.h"

namespace installer {

// Ok when `path` now holds exactly `contents` (mode 0644) and they have
// reached the storage; a failure when nothing was changed.
Status replaceFile(Env& env, const std::string& path, const std::string& contents);

}  // namespace installer
