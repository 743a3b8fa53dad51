// Package streams over bytes in memory, and scripts run on them, for the
// tests of the package layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "package/inflater.h"
#include "package/package_stream.h"
#include "support/test_packages.h"

namespace installer {

// The inflate backend of the streams below: the configured one, unless
// forEachInflateBackend runs its check with another.
inline const InflateBackend*& streamInflateBackend() {
  static const InflateBackend* picked = &inflateBackends().front();
  return picked;
}

// A stream over `bytes`, already moved to its first wanted part.
struct OpenedStream {
  OpenedStream(const std::string& bytes, std::vector<uint32_t> types, bool hashing = true)
      : input(bytes), stream(input, hashing, nullptr) {
    stream.streamBuffer()->inflateBackend = streamInflateBackend();
    stream.wantedTypes = std::move(types);
    stream.nextPart();
  }
  std::istringstream input;
  PackageStream stream;
};

// Runs `check` once with each inflate backend of the build, then goes back
// to the configured one.
template <typename Check>
void forEachInflateBackend(Check check) {
  for (const InflateBackend& backend : inflateBackends()) {
    SCOPED_TRACE(backend.name);
    streamInflateBackend() = &backend;
    check();
  }
  streamInflateBackend() = &inflateBackends().front();
}

// Runs `script` on `in` (which reads from `stream`), a word a step:
//   g get  p peek  u unget  bC put C back  rN read N  k clear  ? state  t tell
//   sN seek to N  s+N seek by N  s-N seek to N before the end
//   n next part  xN read N raw (of `stream`)
// and tells what each step gave: a type, a character or "eof", the bytes read,
// "ok" or "failed", numbers; each after a space.
inline std::string runScript(std::istream& in, PackageStream& stream, const std::string& script) {
  auto said = [](const std::istream& s) { return std::string(s ? "ok" : "failed"); };
  auto character = [](int c) { return c == EOF ? std::string("eof") : std::string(1, static_cast<char>(c)); };
  std::string trace, step;
  char buffer[200];
  for (std::istringstream steps(script); steps >> step;) {
    int n = std::abs(std::atoi(step.c_str() + 1));
    auto from = step[1] == '+' ? std::ios_base::cur : step[1] == '-' ? std::ios_base::end : std::ios_base::beg;
    const char op = step[0];
    if (op == 'g') trace += " " + character(in.get());
    if (op == 'p') trace += " " + character(in.peek());
    if (op == 'u') trace += " " + said(in.unget());
    if (op == 'b') trace += " " + said(in.putback(step[1]));
    if (op == 'r') trace += " " + std::string(buffer, static_cast<size_t>(in.read(buffer, n).gcount()));
    if (op == 'k') in.clear();
    if (op == '?') trace += std::string(" ") + (in.eof() ? "e" : "") + (in.fail() ? "f" : "") + (in.bad() ? "b" : "");
    if (op == 't') trace += " " + std::to_string(in.tellg());
    if (op == 's') trace += " " + said(in.seekg(n, from));
    if (op == 'n') trace += " " + std::to_string(stream.nextPart());
    if (op == 'x') trace += " " + std::to_string(stream.readRaw(reinterpret_cast<uint8_t*>(buffer), n));
  }
  return trace;
}

}  // namespace installer
