// The image file of a standard-input run: the exact bytes of the package
// stream, written to "/flash/var/pdb//image" while the stream is installed,
// and moved into the package's database directory when the run succeeds.
//
// The copy of the stream goes through sink(), which notes any write that
// falls short (a full disk), so that finish() can tell whether the file on
// flash is the whole stream. The run owns the file until it stages its move
// or removes it.
#pragma once

#include <fstream>
#include <streambuf>

class StdinImage {
 public:
  StdinImage();
  StdinImage(const StdinImage&) = delete;
  StdinImage& operator=(const StdinImage&) = delete;

  bool isOpen() const { return file.is_open(); }
  // The copy sink to hand to the install run.
  std::streambuf* sink() { return &checked; }
  // Flushes and closes the file. True when every byte reached it.
  [[nodiscard]] bool finish();
  // Closes (if still open) and deletes the file.
  void remove();

 private:
  // Forwards to the file's buffer and latches the first short write.
  class CheckedBuffer : public std::streambuf {
   public:
    explicit CheckedBuffer(std::streambuf* into) : target(into) {}
    bool failed = false;

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;

   private:
    std::streambuf* target;
  };

  std::ofstream file;
  CheckedBuffer checked;
};
