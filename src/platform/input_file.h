// InputFile: an input stream over a file that never throws.
//
// The standard library's file stream raises an exception when a read fails
// (a directory opened as a file, a flash block that cannot be read), and the
// installer is built without exceptions, so such a read would end the
// process. Here a failing read is simply the end of the data: the stream's
// failbit is set, and `readError()` tells it apart from a clean end;
// `status()` keeps why the file could not be opened or read.
// Use it for every file the installer reads; it reads through an Env.
#pragma once

#include <istream>
#include <memory>
#include <streambuf>
#include <string>

#include "platform/env.h"

namespace installer {

class InputFileBuf : public std::streambuf {
 public:
  InputFileBuf() = default;
  ~InputFileBuf() override;
  InputFileBuf(const InputFileBuf&) = delete;
  InputFileBuf& operator=(const InputFileBuf&) = delete;

  Status open(Env& env, const std::string& path, const ReadLimits& limits);
  void close();
  bool isOpen() const { return file != nullptr; }
  bool readError() const { return !failure.isOk() && file != nullptr; }
  // Why the open or the first failed read failed; ok when neither did.
  const Status& status() const { return failure; }

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* bytes, std::streamsize n) override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
  std::streamsize showmanyc() override;

 private:
  static constexpr size_t bufferSize = 16384;
  // Reads until something arrives, the end, or an error.
  size_t readSome(char* bytes, size_t n);

  std::unique_ptr<ReadableFile> file;
  Status failure;
  char buffer[bufferSize];
};

class InputFile : public std::istream {
 public:
  InputFile();
  InputFile(Env& env, const std::string& path, const ReadLimits& limits = ReadLimits());
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` read-only within `limits`; sets failbit when it cannot be
  // opened or breaks them.
  Status open(Env& env, const std::string& path, const ReadLimits& limits = ReadLimits());
  bool is_open() const { return fileBuffer.isOpen(); }
  void close() { fileBuffer.close(); }
  bool readError() const { return fileBuffer.readError(); }
  // Why the file could not be opened, or the read that failed; ok when
  // neither happened.
  const Status& status() const { return fileBuffer.status(); }

 private:
  InputFileBuf fileBuffer;
};

}  // namespace installer
