// CallOutcome: what a row of calls in a test table came to, in words that
// compare with the system's own.
//
// A table of calls states, per row, whether it works or the error it fails
// with (an errno value, as the system call would fail). Each call in a row
// passes its Status through seen(); the row's outcome is "ok", the reason
// of the last failure seen, or "failed" when the row failed on a check of
// its own.
#pragma once

#include <cstring>
#include <string>

#include "base/status.h"

namespace installer {

class CallOutcome {
 public:
  // Notes the call's Status; whether it is ok.
  bool seen(const Status& status) {
    if (!status.isOk()) last = status;
    return status.isOk();
  }
  // Forgets what earlier rows saw.
  void reset() { last = Status(); }
  std::string of(bool done) const { return done ? "ok" : !last.isOk() ? last.reason() : "failed"; }
  // What a row that fails with `error` (0: works, -1: fails a check of its own) comes to.
  static std::string expected(int error) { return error == 0 ? "ok" : error == -1 ? "failed" : std::strerror(error); }

 private:
  Status last;
};

}  // namespace installer
