#include "platform/input_file.h"

#include <cstdio>
#include <cstring>

namespace installer {

InputFileBuf::~InputFileBuf() { close(); }

Status InputFileBuf::open(Env& env, const std::string& path, const ReadLimits& limits) {
  close();
  failure = env.openReadable(path, limits, file);
  return failure;
}

void InputFileBuf::close() {
  file.reset();
  failure = Status::ok();
  setg(nullptr, nullptr, nullptr);
}

size_t InputFileBuf::readSome(char* bytes, size_t n) {
  if (!file) return 0;
  size_t got = 0;
  Status read = file->read(bytes, n, got);
  if (read.isOk()) return got;
  if (failure.isOk()) failure = read;
  return 0;
}

InputFileBuf::int_type InputFileBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  size_t got = readSome(buffer, bufferSize);
  if (got == 0) return traits_type::eof();
  setg(buffer, buffer, buffer + got);
  return traits_type::to_int_type(*gptr());
}

std::streamsize InputFileBuf::xsgetn(char* bytes, std::streamsize n) {
  std::streamsize total = 0;
  while (total < n) {
    std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      std::streamsize take = std::min(buffered, n - total);
      std::memcpy(bytes + total, gptr(), static_cast<size_t>(take));
      gbump(static_cast<int>(take));
      total += take;
      continue;
    }
    // Large reads go straight to the caller's buffer.
    if (n - total >= static_cast<std::streamsize>(bufferSize)) {
      size_t got = readSome(bytes + total, static_cast<size_t>(n - total));
      if (got == 0) break;
      total += static_cast<std::streamsize>(got);
    } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
      break;
    }
  }
  return total;
}

InputFileBuf::pos_type InputFileBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                             std::ios_base::openmode which) {
  if ((which & std::ios_base::in) == 0 || !file) return pos_type(-1);
  int whence = direction == std::ios_base::beg ? SEEK_SET : direction == std::ios_base::end ? SEEK_END : SEEK_CUR;
  // The kernel's position is ahead of ours by what is still buffered.
  if (whence == SEEK_CUR) offset -= egptr() - gptr();
  int64_t result = 0;
  if (!file->seek(static_cast<int64_t>(offset), whence, result).isOk()) return pos_type(-1);
  setg(nullptr, nullptr, nullptr);
  return pos_type(static_cast<off_type>(result));
}

InputFileBuf::pos_type InputFileBuf::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

std::streamsize InputFileBuf::showmanyc() { return egptr() - gptr(); }

InputFile::InputFile() : std::istream(nullptr) { rdbuf(&fileBuffer); }

// Whether it opened shows in is_open() and the stream state.
InputFile::InputFile(Env& env, const std::string& path, const ReadLimits& limits) : InputFile() {
  static_cast<void>(open(env, path, limits));
}

Status InputFile::open(Env& env, const std::string& path, const ReadLimits& limits) {
  clear();
  Status opened = fileBuffer.open(env, path, limits);
  if (!opened.isOk()) setstate(std::ios_base::failbit);
  return opened;
}

}  // namespace installer
