// Walking a path one component at a time, as the kernel does after chroot:
// repeated slashes and "." vanish, ".." goes up but never above the root,
// and a symbolic link is replaced by its target (an absolute target starts
// again at the root), at most 40 links per walk. The environments that
// keep their own tree (a host directory standing in for the root, a tree in
// memory) share this walk and differ only in how they look at a component.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/status.h"

namespace installer {

enum class WalkStep {
  Next,        // the component stays; go on
  FollowLink,  // it is a link to follow: its target is in `link`
  Stop,        // the walk ends here, with the components so far
  Fail,        // the walk fails, for the reason the look gives in `failure`
};

// Looks at the last of `done`; `last` is whether nothing follows it.
using ComponentLook =
    std::function<WalkStep(const std::vector<std::string>& done, bool last, std::string& link, Status& failure)>;

// The components `path` leads to, in `done`. Fails when the path is empty
// (NotFound), a look fails (its failure), or there are too many links.
Status walkPath(const std::string& path, const ComponentLook& look, std::vector<std::string>& done);

// Whether `path` names a directory by its final slash ("a/"; "/" is the root).
bool endsWithSlash(const std::string& path);

}  // namespace installer
