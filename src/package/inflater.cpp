#include "package/inflater.h"

namespace installer {

namespace {

const InflateBackend* picked = nullptr;

}  // namespace

std::unique_ptr<Inflater> newInflater() { return (picked ? *picked : inflateBackends().front()).make(); }

void useInflateBackend(const InflateBackend& backend) { picked = &backend; }

}  // namespace installer
