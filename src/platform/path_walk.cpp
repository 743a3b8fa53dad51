#include "platform/path_walk.h"

#include <cerrno>
#include <deque>

#include "platform/system_error.h"

namespace installer {

namespace {

// As many links as the kernel follows in one lookup.
constexpr int maxLinks = 40;

// Puts the components of `path` before those still to walk.
void pushFront(const std::string& path, std::deque<std::string>& pending) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  pending.insert(pending.begin(), parts.begin(), parts.end());
}

}  // namespace

Status walkPath(const std::string& path, const ComponentLook& look, std::vector<std::string>& done) {
  done.clear();
  if (path.empty()) return systemError(path, ENOENT);
  std::deque<std::string> pending;
  pushFront(path, pending);
  int links = 0;
  while (!pending.empty()) {
    std::string component = std::move(pending.front());
    pending.pop_front();
    if (component == ".") continue;
    if (component == "..") {
      if (!done.empty()) done.pop_back();
      continue;
    }
    done.push_back(std::move(component));
    std::string link;
    Status failure;
    switch (look(done, pending.empty(), link, failure)) {
      case WalkStep::Next:
        continue;
      case WalkStep::Stop:
        return Status::ok();
      case WalkStep::Fail:
        return failure.isOk() ? systemError(path, EIO) : failure;  // a look must say why
      case WalkStep::FollowLink:
        break;
    }
    if (++links > maxLinks) return systemError(path, ELOOP);
    done.pop_back();
    if (!link.empty() && link[0] == '/') done.clear();
    pushFront(link, pending);
  }
  return Status::ok();
}

bool endsWithSlash(const std::string& path) { return path.size() > 1 && path.back() == '/'; }

}  // namespace installer
