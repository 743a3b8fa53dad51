#include "package/inflater.h"

namespace installer {

const std::vector<InflateBackend>& inflateBackends() {
  static const std::vector<InflateBackend> backends{{"zlib", newZlibInflater}};
  return backends;
}

}  // namespace installer
