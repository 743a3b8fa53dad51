#include "cli/stdin_image.h"

#include <unistd.h>

#include "platform/device_paths.h"

StdinImage::StdinImage() : file(paths::standardInputImage, std::ios::binary | std::ios::trunc), checked(file.rdbuf()) {}

bool StdinImage::finish() {
  file.flush();
  file.close();
  return !file.fail() && !checked.failed;
}

void StdinImage::remove() {
  if (file.is_open()) file.close();
  unlink(paths::standardInputImage);
}

StdinImage::CheckedBuffer::int_type StdinImage::CheckedBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (traits_type::eq_int_type(target->sputc(traits_type::to_char_type(c)), traits_type::eof())) {
    failed = true;
    return traits_type::eof();
  }
  return c;
}

std::streamsize StdinImage::CheckedBuffer::xsputn(const char* data, std::streamsize count) {
  std::streamsize written = target->sputn(data, count);
  if (written != count) failed = true;
  return written;
}
