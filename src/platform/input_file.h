// InputFile: an input stream over a file that never throws.
//
// The standard library's file stream raises an exception when a read fails
// (a directory opened as a file, a flash block that cannot be read), and the
// installer is built without exceptions, so such a read would end the
// process. Here a failing read is simply the end of the data: the stream's
// failbit is set, and `readError()` tells it apart from a clean end.
// Use it for every file the installer reads.
#pragma once

#include <istream>
#include <memory>
#include <streambuf>
#include <string>

class InputFileBuf : public std::streambuf {
 public:
  InputFileBuf() = default;
  ~InputFileBuf() override;
  InputFileBuf(const InputFileBuf&) = delete;
  InputFileBuf& operator=(const InputFileBuf&) = delete;

  bool open(const std::string& path);
  // Reads from an already open descriptor; it is not closed by this buffer.
  void attach(int descriptor);
  void close();
  bool isOpen() const { return descriptor >= 0; }
  bool readError() const { return failed; }

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* bytes, std::streamsize n) override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
  std::streamsize showmanyc() override;

 private:
  static constexpr size_t bufferSize = 16384;
  // read(2) until something arrives, the end, or an error other than EINTR.
  long readSome(char* bytes, size_t n);

  int descriptor = -1;
  bool owned = false;
  bool failed = false;
  char buffer[bufferSize];
};

class InputFile : public std::istream {
 public:
  InputFile();
  explicit InputFile(const std::string& path);
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` read-only; sets failbit when it cannot be opened.
  bool open(const std::string& path);
  bool is_open() const { return fileBuffer.isOpen(); }
  void close() { fileBuffer.close(); }
  bool readError() const { return fileBuffer.readError(); }

 private:
  InputFileBuf fileBuffer;
};
