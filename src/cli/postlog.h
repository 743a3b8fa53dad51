// The post-run log "/flash/postlog": the messages of a run, one per line,
// left for the rest of the system to read after the installer has gone.
//
// An upgrade run prepares the log early (preparePostlog): the lines of the
// previous log are taken into the state's `messages`, ahead of anything
// this run has said, and the file is filled with 4096 zero bytes so that
// the space is already taken when the run ends. writePostlog then replaces
// it with all the messages. Runs that did not prepare it append their
// messages to whatever log is there. Whether the log was prepared is kept
// in the state (`postlogPrepared`).
#pragma once

#include "model/installer_state.h"

namespace installer {

// Loads the complete lines of the existing log (a last line without a line
// feed is dropped) in front of the state's messages, then reserves the file.
void preparePostlog(InstallerState& state);

// Writes the messages to the log after syncing everything committed before:
// replacing the log when it was prepared, appending otherwise. Does nothing
// when the log was not prepared and there are no messages. Fails when the
// log could not be written (nothing is reported: the log is the last thing
// a run does, and it has nowhere else to say so).
Status writePostlog(InstallerState& state);

}  // namespace installer
