// The image file of a standard-input run: the exact bytes of the package
// stream, written to a temporary file of the run's own in "/flash/var/pdb/"
// while the stream is installed, and moved into the package's database
// directory when the run succeeds. Only a package that carries a squashfs
// image keeps it; for the others the install run stops the copy after the
// header, and the run removes the file.
//
// The copy of the stream goes through sink(), which notes any write that
// falls short (a full disk), so that finish() can tell whether the file on
// flash is the whole stream. The run owns the file until it stages its move
// or removes it.
#pragma once

#include <memory>
#include <streambuf>
#include <string>

#include "platform/env.h"
#include "staging/staged_files.h"

namespace installer {

class StdinImage {
 public:
  // Makes the file, recorded among the temporary files of `staged`.
  explicit StdinImage(StagedFiles& staged);
  StdinImage(const StdinImage&) = delete;
  StdinImage& operator=(const StdinImage&) = delete;

  bool isOpen() const { return file != nullptr; }
  const std::string& path() const { return name; }
  // The copy sink to hand to the install run.
  std::streambuf* sink() { return &buffer; }
  // Writes out what is buffered and closes the file. True when every byte
  // reached it.
  [[nodiscard]] bool finish();
  // Closes (if still open) and deletes the file.
  void remove();
  // Why the file is not the whole stream: the write that fell short, the
  // close that failed, or why the file could not be made; ok when it is.
  const Status& writeError() const { return buffer.error; }

 private:
  // Collects the copy in a buffer of its own and appends it to the file,
  // latching the first write that fails.
  class ImageBuffer : public std::streambuf {
   public:
    explicit ImageBuffer(StdinImage& owner);
    [[nodiscard]] bool drain();
    bool failed = false;
    Status error;  // of the first write that failed

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;

   private:
    static constexpr size_t size = 16384;
    StdinImage& image;
    char bytes[size];
  };

  Env& env;
  std::string name;
  std::unique_ptr<WritableFile> file;
  Status opened;
  ImageBuffer buffer;
};

}  // namespace installer
