#include "package/inflater.h"

namespace installer {

const std::vector<InflateBackend>& inflateBackends() {
  static const std::vector<InflateBackend> backends{{"isal", newIsalInflater}, {"zlib", newZlibInflater}};
  return backends;
}

}  // namespace installer
