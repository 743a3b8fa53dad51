#include "support/scenario.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "base/package_version.h"
#include "cli/installer_main.h"
#include "pkgtool_commands.h"
#include "support/host_files.h"  // the host work directory
#include "support/recorded_output.h"
#include "support/simulated_device.h"
#include "support/test_packages.h"

namespace installer {

namespace {

constexpr size_t shownBytes = 96;

struct Command {
  size_t line = 0;  // index of the command's line
  std::vector<std::string> words;
  std::vector<std::string> block;
};

// The escapes of a quoted word.
std::string unescape(const std::string& text, size_t& at) {
  char c = text[at++];
  switch (c) {
    case 'n':
      return "\n";
    case 't':
      return "\t";
    case 'x': {
      std::string digits = text.substr(at, 2);
      at += 2;
      return std::string(1, static_cast<char>(std::strtoul(digits.c_str(), nullptr, 16)));
    }
    default:
      return std::string(1, c);
  }
}

std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    if (line[at] == ' ') {
      ++at;
      continue;
    }
    std::string word;
    if (line[at] == '"') {
      for (++at; at < line.size() && line[at] != '"';) {
        if (line[at] == '\\' && at + 1 < line.size()) {
          ++at;
          word += unescape(line, at);
        } else {
          word += line[at++];
        }
      }
      ++at;
    } else {
      while (at < line.size() && line[at] != ' ') word += line[at++];
    }
    if (word == "$KEY") word = developmentKeyFile();
    words.push_back(word);
  }
  return words;
}

bool isSectionLine(const std::string& line) {
  return line.size() > 6 && line.compare(0, 3, "-- ") == 0 && line.compare(line.size() - 3, 3, " --") == 0;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class Runner {
 public:
  explicit Runner(std::string file) : path(std::move(file)), work(makeHostTempDir()) {
    for (const char* dir : {"/flash/var/pdb", "/ram", "/rw", "/tmp"}) setUp(device.addDirectories(dir), dir);
  }
  ~Runner() { removeHostTree(work); }

  std::vector<std::string> run() {
    lines = linesOf(readHostFile(path));
    std::vector<Command> commands = parse();
    for (const Command& command : commands) execute(command);
    return failures;
  }

 private:
  std::vector<Command> parse() {
    std::vector<Command> commands;
    size_t i = 0;
    for (; i < lines.size() && !isSectionLine(lines[i]); ++i) {
      const std::string& line = lines[i];
      if (line.empty() || line[0] == '#') continue;
      if (line.compare(0, 2, "  ") == 0 && !commands.empty()) {
        commands.back().block.push_back(line.substr(2));
        continue;
      }
      Command command;
      command.line = i;
      command.words = splitWords(line);
      commands.push_back(command);
    }
    extractArchive(i);
    return commands;
  }

  void extractArchive(size_t from) {
    std::string name, contents;
    for (size_t i = from; i <= lines.size(); ++i) {
      if (i == lines.size() || isSectionLine(lines[i])) {
        if (!name.empty()) writeWorkFile(name, contents);
        if (i == lines.size()) break;
        name = lines[i].substr(3, lines[i].size() - 6);
        contents.clear();
      } else {
        contents += lines[i] + "\n";
      }
    }
  }

  // Makes the directories a work file's name holds ("src/a.desc").
  void writeWorkFile(const std::string& name, const std::string& contents) {
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
      mkdir((work + "/" + name.substr(0, slash)).c_str(), 0755);
    }
    writeHostFile(work + "/" + name, contents);
  }

  void fail(const Command& command, const std::string& what) {
    failures.push_back(path + ":" + std::to_string(command.line + 1) + ": " + what);
  }

  // A setting-up call on the device that did not work.
  void setUp(bool done, const std::string& what) {
    if (!done) failures.push_back(path + ": cannot set up " + what + ": " + std::strerror(errno));
  }

  void expect(const Command& command, const std::string& expected, const std::string& actual) {
    if (expected != actual) fail(command, command.words[0] + ": expected\n" + expected + "\nbut got\n" + actual);
  }

  std::string word(const Command& command, size_t index) {
    return index < command.words.size() ? command.words[index] : std::string();
  }

  // CONTENT or @FILE.
  std::string contentsOf(const std::string& text) {
    return !text.empty() && text[0] == '@' ? readHostFile(work + "/" + text.substr(1)) : text;
  }

  void execute(const Command& command) {
    const std::string& name = command.words[0];
    if (name == "text") {
      writeWorkFile(word(command, 1), word(command, 2));
    } else if (name == "put") {
      std::string mode = word(command, 3);
      setUp(device.addFile(word(command, 1), contentsOf(word(command, 2)),
                           mode.empty() ? 0644 : static_cast<uint32_t>(std::strtoul(mode.c_str(), nullptr, 8))),
            word(command, 1));
    } else if (name == "mkdir") {
      for (size_t i = 1; i < command.words.size(); ++i)
        setUp(device.addDirectories(command.words[i]), command.words[i]);
    } else if (name == "symlink") {
      setUp(device.addSymlink(word(command, 1), word(command, 2)), word(command, 1));
    } else if (name == "rm") {
      setUp(device.removeTree(word(command, 1)), word(command, 1));
    } else if (name == "fifo") {
      setUp(device.addSpecial(word(command, 1)), word(command, 1));
    } else if (name == "env") {
      if (command.words.size() > 2) {
        device.setVariable(word(command, 1), word(command, 2));
      } else {
        device.unsetVariable(word(command, 1));
      }
    } else if (name == "installed") {
      installRecord(command);
    } else if (name == "installer") {
      runInstaller(command);
    } else if (name == "pkgtool" || (name == "!" && word(command, 1) == "pkgtool")) {
      runPkgtoolCommand(command, name == "!");
    } else {
      expectation(command);
    }
  }

  void expectation(const Command& command) {
    const std::string& name = command.words[0];
    if (name == "status") {
      expect(command, word(command, 1), std::to_string(status));
    } else if (name == "stdout") {
      expect(command, joinLines(command.block), renderTerminal(out));
    } else if (name == "stderr") {
      expect(command, joinLines(command.block), renderTerminal(err));
    } else if (name == "stdout-raw") {
      expect(command, word(command, 1), out);
    } else if (name == "stdout-has") {
      if (out.find(word(command, 1)) == std::string::npos) fail(command, "stdout lacks the text; it is\n" + out);
    } else if (name == "tree") {
      std::string shown = command.words.size() > 1 ? word(command, 1) : "/";
      expect(command, joinLines(command.block), treeWithWorkFiles(shown));
    } else if (name == "changes") {
      expect(command, joinLines(command.block), changesSinceRun());
    } else if (name == "unchanged") {
      std::string changed;
      for (const std::string& line : linesOf(changesSinceRun())) {
        if (line.compare(2, 15, "/flash/postlog ") != 0) changed += line + "\n";
      }
      if (!changed.empty()) fail(command, "the tree changed:\n" + changed);
    } else {
      fail(command, "unknown command " + name);
    }
  }

  // A package installed without an image, as the installer leaves it: its
  // meta files, and each of its files with the contents "PATH\n".
  void installRecord(const Command& command) {
    std::string dir = "/flash/var/pdb/" + word(command, 1) + "/", list;
    PackageVersion version = 0;
    if (!parseVersion(word(command, 2), version)) fail(command, "not a version");
    for (size_t i = 3; i < command.words.size(); ++i) {
      list += command.words[i] + "\n";
      setUp(device.addFile("/flash/" + command.words[i], command.words[i] + "\n"), command.words[i]);
    }
    setUp(device.addFile(dir + "version", std::to_string(version) + " 0\n", 0600) &&
              device.addFile(dir + "deps", "", 0600) && device.addFile(dir + "files", list, 0600),
          dir);
  }

  void runInstaller(const Command& command) {
    std::vector<std::string> arguments;
    std::string input;
    for (size_t i = 1; i < command.words.size(); ++i) {
      const std::string& argument = command.words[i];
      if (argument.size() > 1 && argument[0] == '<') {
        input = readHostFile(work + "/" + argument.substr(1));
      } else {
        arguments.push_back(argument);
      }
    }
    treeBefore = treeWithWorkFiles("/");
    std::istringstream stream(input);
    RecordedOutput output;
    status = installerMain(device, output, arguments, stream);
    out = output.printed;
    err = output.errors;
    device.revive();  // the run is over: its root and its locks go with it
  }

  // A pkgtool run must succeed, or with "!" before it fail.
  // The checkout's directory in pkgtool's output (the trust file it was
  // built with) as "$SOURCE", so that scenarios do not depend on it.
  static std::string withSourceNamed(std::string text) {
    const std::string source = SOURCE_DIR;
    for (size_t at = text.find(source); at != std::string::npos; at = text.find(source, at)) {
      text.replace(at, source.size(), "$SOURCE");
    }
    return text;
  }

  void runPkgtoolCommand(const Command& command, bool mustFail) {
    std::vector<std::string> arguments(command.words.begin() + (mustFail ? 2 : 1), command.words.end());
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(work.c_str()) != 0) std::abort();
    std::ostringstream pkgOut, pkgErr;
    status = runPkgtool(arguments, pkgOut, pkgErr);
    if (chdir(previous) != 0) std::abort();
    out = withSourceNamed(pkgOut.str());
    err = pkgErr.str();
    if ((status != 0) != mustFail) fail(command, "pkgtool exited with " + std::to_string(status) + ": " + err);
  }

  // The device's tree, with the contents of a file up to shownBytes long
  // quoted (the post-run log's lines read whole), "@FILE" for a longer one
  // that equals a work file, and without the run lock, which every run
  // leaves.
  std::string treeWithWorkFiles(const std::string& shown) {
    std::string text;
    for (const std::string& line : linesOf(device.tree(shown))) {
      if (line.rfind("/ram/installer.lock ", 0) == 0) continue;
      size_t marker = line.rfind(" <");
      std::string devicePath = line.substr(0, line.find(' ')), contents;
      if (marker == std::string::npos || line.back() != '>' || !device.read(devicePath, contents)) {
        text += line + "\n";
        continue;
      }
      std::string match = contents.size() <= shownBytes ? "" : workFileEqualTo(contents);
      if (contents.size() <= shownBytes) {
        text += line.substr(0, marker) + " " + installer::quoted(contents) + "\n";
      } else {
        text += (match.empty() ? line : line.substr(0, marker) + " @" + match) + "\n";
      }
    }
    return text;
  }

  std::string workFileEqualTo(const std::string& contents) {
    std::string found;
    for (const std::string& line : linesOf(describeTree(work, ""))) {
      std::string name = line.substr(1, line.find(' ') - 1);
      if (readHostFile(work + "/" + name) == contents) found = name;
    }
    return found;
  }

  // "+ LINE" and "- LINE" for each tree line added or removed since the
  // last installer run started, in path order.
  std::string changesSinceRun() {
    std::vector<std::string> beforeLines = linesOf(treeBefore), nowLines = linesOf(treeWithWorkFiles("/"));
    std::set<std::string> before(beforeLines.begin(), beforeLines.end()), now(nowLines.begin(), nowLines.end());
    std::map<std::string, char> changed;
    for (const std::string& line : before) {
      if (now.count(line) == 0) changed[line] = '-';
    }
    for (const std::string& line : now) {
      if (before.count(line) == 0) changed[line] = '+';
    }
    std::string text;
    for (const auto& entry : changed) text += std::string(1, entry.second) + " " + entry.first + "\n";
    return text;
  }

  std::string path;
  std::string work;
  SimulatedDevice device{{{"/"}}};
  std::vector<std::string> lines;
  int status = 0;
  std::string out, err, treeBefore;
  std::vector<std::string> failures;
};

}  // namespace

std::string renderTerminal(const std::string& raw) {
  std::vector<std::string> rows(1);
  size_t column = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\n') {
      rows.emplace_back();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\b') {
      if (column > 0) --column;
    } else if (c == '\x1b') {
      // CSI: ESC [ parameters, ended by a byte from '@' to '~'.
      if (i + 1 < raw.size() && raw[i + 1] == '[') ++i;
      while (i + 1 < raw.size() && !(raw[i + 1] >= '@' && raw[i + 1] <= '~')) ++i;
      ++i;
    } else {
      std::string& row = rows.back();
      if (column < row.size()) {
        row[column] = c;
      } else {
        row += c;
      }
      ++column;
    }
  }
  std::string text;
  for (std::string& row : rows) {
    while (!row.empty() && row.back() == ' ') row.pop_back();
    if (!row.empty()) text += row + "\n";
  }
  return text;
}

std::vector<std::string> runScenario(const std::string& path) { return Runner(path).run(); }

}  // namespace installer
