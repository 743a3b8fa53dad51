#include "cli/stdin_image.h"

#include <cstring>

#include "platform/device_paths.h"

namespace installer {

namespace {

// The image directory without its trailing "/".
std::string imageDirectory() {
  std::string directory = paths::databaseDir;
  return directory.substr(0, directory.size() - 1);
}

}  // namespace

StdinImage::StdinImage(StagedFiles& staged)
    : env(staged.env()), opened(makeTemporaryIn(staged, imageDirectory(), name, file)), buffer(*this) {
  // Like any file the run creates, not only readable by its owner.
  if (file) static_cast<void>(env.changeMode(name, 0666 & ~env.creationMask()));
}

bool StdinImage::finish() {
  bool written = buffer.drain() && file != nullptr;
  Status closed = file != nullptr ? file->close() : opened;
  if (!closed.isOk() && buffer.error.isOk()) buffer.error = closed;
  return written && closed.isOk() && !buffer.failed;
}

void StdinImage::remove() {
  file.reset();
  if (!name.empty()) static_cast<void>(env.removeFile(name));  // gone already is fine
}

StdinImage::ImageBuffer::ImageBuffer(StdinImage& owner) : image(owner) { setp(bytes, bytes + size); }

bool StdinImage::ImageBuffer::drain() {
  size_t pending = static_cast<size_t>(pptr() - pbase());
  setp(bytes, bytes + size);
  if (pending == 0 || failed) return !failed;
  Status written = image.file != nullptr ? image.file->append(bytes, pending) : image.opened;
  if (!written.isOk()) {
    failed = true;
    error = written;
  }
  return !failed;
}

StdinImage::ImageBuffer::int_type StdinImage::ImageBuffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize StdinImage::ImageBuffer::xsputn(const char* data, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    std::streamsize room = epptr() - pptr();
    if (room == 0) {
      if (!drain()) return done;
      continue;
    }
    std::streamsize take = std::min(room, count - done);
    std::memcpy(pptr(), data + done, static_cast<size_t>(take));
    pbump(static_cast<int>(take));
    done += take;
  }
  return done;
}

}  // namespace installer
