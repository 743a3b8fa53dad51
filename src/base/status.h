// Status: the outcome of anything that can fail, as one value.
//
// A Status is ok, or a kind plus the subject that failed (usually a path)
// and the reason in the system's own words ("No space left on device").
// The kind is what callers decide on (a full disk ends an upgrade with its
// own figure, a missing file may not be an error at all); the reason is
// what the message that owns the failure prints. The platform layer makes a
// Status where a system call fails, so a cause is carried as a value and
// never read back later from the system's error variable.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace installer {

class [[nodiscard]] Status {
 public:
  enum class Kind : uint8_t {
    Ok,
    NotFound,      // no such file, or nothing by that name
    Exists,        // something is in the way of a name to be created
    NotDirectory,  // a path goes through something that is not a directory
    IsDirectory,   // a directory stands where a file is meant
    NoSpace,       // the storage is full (blocks or inodes)
    CrossDevice,   // a rename between two file systems
    NameTooLong,   // a name or a link's text longer than the system takes
    Busy,          // held by someone else right now; try again later
    DiskError,     // the storage could not read or write (an I/O error)
    IoError,       // any other failure of the system
    Corrupt,       // data that breaks its format
    Refused,       // input the installer declines on purpose
  };

  Status() = default;  // ok
  Status(Kind kind, std::string subject, std::string reason)
      : kind_(kind), subject_(std::move(subject)), reason_(std::move(reason)) {}

  static Status ok() { return Status(); }
  static Status notFound(std::string subject, std::string reason) {
    return Status(Kind::NotFound, std::move(subject), std::move(reason));
  }
  static Status noSpace(std::string subject, std::string reason) {
    return Status(Kind::NoSpace, std::move(subject), std::move(reason));
  }
  static Status ioError(std::string subject, std::string reason) {
    return Status(Kind::IoError, std::move(subject), std::move(reason));
  }
  static Status corrupt(std::string subject, std::string reason) {
    return Status(Kind::Corrupt, std::move(subject), std::move(reason));
  }
  static Status refused(std::string subject, std::string reason) {
    return Status(Kind::Refused, std::move(subject), std::move(reason));
  }

  bool isOk() const { return kind_ == Kind::Ok; }
  Kind kind() const { return kind_; }
  bool is(Kind kind) const { return kind_ == kind; }
  // What failed: a path, or a name of the thing.
  const std::string& subject() const { return subject_; }
  // Why, as the message prints it ("No space left on device").
  const std::string& reason() const { return reason_; }
  // "subject: reason", or the reason alone when there is no subject.
  std::string toString() const { return subject_.empty() ? reason_ : subject_ + ": " + reason_; }

 private:
  Kind kind_ = Kind::Ok;
  std::string subject_;
  std::string reason_;
};

}  // namespace installer
