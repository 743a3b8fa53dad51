#include "tool_errors.h"

#include "platform/system_error.h"

namespace installer {

Status systemError(const std::string& subject, const std::string& doing) {
  return failedTo(doing, systemError(subject));
}

Status failedTo(const std::string& doing, const Status& cause) {
  if (cause.isOk() || doing.empty()) return cause;
  return Status(cause.kind(), cause.subject(), doing + ": " + cause.reason());
}

Status within(const std::string& subject, const Status& cause) {
  return Status(cause.kind(), subject, cause.toString());
}

}  // namespace installer
