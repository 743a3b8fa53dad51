// What a run finds of an interrupted one: the journal, the registries of
// temporary files, the manifest and its notes, and the files they name, any
// of them planted or damaged. The run must never touch a file outside the
// places a commit may change, must never be left with the journal (unless
// it could not read it), and a journal it reads must come back unchanged
// when written out and read again.
#include <cstdlib>

#include "fuzz_input.h"
#include "install/package_rebuild.h"
#include "model/installer_state.h"
#include "platform/device_paths.h"
#include "staging/commit_journal.h"
#include "staging/staged_commit.h"

using namespace installer;

namespace {

const char sentinelPath[] = "/etc/passwd";
const char sentinel[] = "root:x:0:0\n";

bool holdsSentinel(ScratchEnv& env) {
  std::unique_ptr<ReadableFile> file;
  char buffer[64];
  size_t n = 0;
  if (!env.openReadable(sentinelPath, ReadLimits{false, true, 64}, file).isOk()) return false;
  if (!file->read(buffer, sizeof buffer, n).isOk()) return false;
  return n == sizeof sentinel - 1 && std::string(buffer, n) == sentinel;
}

void checkRoundTrip(ScratchEnv& env) {
  CommitPlan plan, again;
  std::string why;
  if (readJournal(env, paths::commitJournal, plan, why) != JournalRead::Read) return;
  if (!env.addFile("/ram/again", journalText(plan)).isOk()) return;
  if (readJournal(env, "/ram/again", again, why) != JournalRead::Read) std::abort();
  if (journalText(again) != journalText(plan)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  if (!env.addDirectories("/flash/var/pdb").isOk() || !env.addDirectories("/ram").isOk() ||
      !env.addFile(sentinelPath, sentinel).isOk()) {
    return 0;
  }
  addFiles(env, textOf(data, size));
  if (!holdsSentinel(env)) return 0;  // the input replaced it
  checkRoundTrip(env);
  DroppedOutput output;
  InstallerState state(env, output);
  state.quiet = true;
  PackageFileContents contents;
  InterruptedCommit result = finishInterruptedCommit(state, &contents);
  removeRunLeftovers(env);
  FileStatus journal;
  bool left = env.linkStatus(paths::commitJournal, journal).isOk() && journal.type != FileType::Directory;
  if (result != InterruptedCommit::Unreadable && left) std::abort();
  if (!holdsSentinel(env)) std::abort();
  return 0;
}
