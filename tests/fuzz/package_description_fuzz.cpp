// pkgtool's description files, for a package and for a bundle. The files a
// description may name are in a ScratchEnv beside it: "data", "image" and
// the tree "tree" (bin/tool, a link, an empty directory).
#include "fuzz_input.h"
#include "package_description.h"

using namespace installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  bool made = env.addFile("/work/package.desc", textOf(data, size)).isOk() &&
              env.addFile("/work/data", "data\n").isOk() && env.addFile("/work/image", "hsqs").isOk() &&
              env.addFile("/work/tree/bin/tool", "#!/bin/sh\n").isOk() &&
              env.addDirectories("/work/tree/empty").isOk() && env.makeSymlink("bin/tool", "/work/tree/tool").isOk();
  if (!made) return 0;
  for (bool bundle : {false, true}) {
    DescriptionParser parser(bundle, env);
    if (parser.applyFile("/work/package.desc").isOk()) static_cast<void>(parser.finish());
  }
  return 0;
}
