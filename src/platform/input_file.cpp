#include "platform/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

InputFileBuf::~InputFileBuf() { close(); }

bool InputFileBuf::open(const std::string& path) {
  close();
  // Non-blocking only for the open itself: a FIFO planted where a file
  // belongs must not hang the run waiting for a writer.
  descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  owned = descriptor >= 0;
  if (owned) fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
  return owned;
}

void InputFileBuf::attach(int openDescriptor) {
  close();
  descriptor = openDescriptor;
}

void InputFileBuf::close() {
  if (owned && descriptor >= 0) ::close(descriptor);
  descriptor = -1;
  owned = false;
  failed = false;
  setg(nullptr, nullptr, nullptr);
}

long InputFileBuf::readSome(char* bytes, size_t n) {
  if (descriptor < 0) return 0;
  for (;;) {
    ssize_t got = ::read(descriptor, bytes, n);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    failed = true;
    return 0;
  }
}

InputFileBuf::int_type InputFileBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  long got = readSome(buffer, bufferSize);
  if (got <= 0) return traits_type::eof();
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
      long got = readSome(bytes + total, static_cast<size_t>(n - total));
      if (got <= 0) break;
      total += got;
    } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
      break;
    }
  }
  return total;
}

InputFileBuf::pos_type InputFileBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                             std::ios_base::openmode which) {
  if ((which & std::ios_base::in) == 0 || descriptor < 0) return pos_type(-1);
  int whence = direction == std::ios_base::beg ? SEEK_SET : direction == std::ios_base::end ? SEEK_END : SEEK_CUR;
  // The kernel's position is ahead of ours by what is still buffered.
  if (whence == SEEK_CUR) offset -= egptr() - gptr();
  off_t result = ::lseek(descriptor, static_cast<off_t>(offset), whence);
  if (result < 0) return pos_type(-1);
  setg(nullptr, nullptr, nullptr);
  return pos_type(static_cast<off_type>(result));
}

InputFileBuf::pos_type InputFileBuf::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

std::streamsize InputFileBuf::showmanyc() { return egptr() - gptr(); }

InputFile::InputFile() : std::istream(nullptr) { rdbuf(&fileBuffer); }

InputFile::InputFile(const std::string& path) : InputFile() { open(path); }

bool InputFile::open(const std::string& path) {
  clear();
  if (fileBuffer.open(path)) return true;
  setstate(std::ios_base::failbit);
  return false;
}
