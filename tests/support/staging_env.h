// Helpers for the staging tests: a staged set written as text, and files
// planted on a simulated device from a one-line description.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "staging/staged_files.h"
#include "support/simulated_device.h"

namespace installer {

// A staged set as text, "U /a|L /b text|M /c /d" in path order: the
// manifest's letters for Delete, Symlink and Move, "W" for Write and "C"
// for Copy, then the path and the target, if any.
inline std::string entriesText(const StagedFiles& staged) {
  std::string text;
  for (const auto& [path, op] : staged.entries)
    text += (text.empty() ? "" : "|") + std::string(1, "MW?LUC"[static_cast<int>(op.kind)]) + " " + path +
            (op.target.empty() ? "" : " " + op.target);
  return text;
}

// Stages the entries of a text in the form entriesText gives.
inline void stageText(StagedFiles& staged, const std::string& text) {
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, '|');) {
    std::string kind, path, target;
    std::istringstream(entry) >> kind >> path >> target;
    stageRecord(staged, path, static_cast<StagedKind>(std::string("MW?LUC").find(kind)), target);
  }
}

// Makes the files a list of items separated by spaces describes: "PATH=TEXT"
// holds the text, "PATH:SIZE" that many bytes "x", and "PATH>TARGET" is a
// symbolic link. A file item may end in "@MODE" (octal; 0644 by default).
// False when one cannot be made.
[[nodiscard]] inline bool plant(SimulatedDevice& device, const std::string& items) {
  std::istringstream in(items);
  for (std::string item; in >> item;) {
    size_t split = item.find_first_of("=:>"), at = item.find('@');
    std::string path = item.substr(0, split), value = item.substr(split + 1, at - split - 1);
    auto mode = static_cast<uint32_t>(at == std::string::npos ? 0644 : std::stoul(item.substr(at + 1), nullptr, 8));
    std::string contents = item[split] == '=' ? value : item[split] == ':' ? std::string(std::stoul(value), 'x') : "";
    if (!(item[split] == '>' ? device.addSymlink(path, value) : device.addFile(path, contents, mode))) return false;
  }
  return true;
}

}  // namespace installer
