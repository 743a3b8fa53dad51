#include "rules/package_listing.h"

#include <ctime>
#include <iomanip>
#include <sstream>

#include "platform/system_facts.h"

namespace installer {

namespace {

constexpr int nameWidth = 16;
constexpr int versionWidth = 13;
constexpr int builtWidth = 20;
constexpr int noteWidth = 40;
constexpr size_t dashCount = 94;

// Each line goes out as soon as it is made.
void printLine(Output& output, const std::string& line) {
  output.write(line + '\n');
  output.flush();
}

void printHeader(Output& output) {
  std::ostringstream header;
  header << std::setw(nameWidth) << "Name"
         << "    " << std::setw(versionWidth) << "Version"
         << " " << std::setw(builtWidth) << "Built" << std::setw(noteWidth) << "Note";
  printLine(output, header.str());
  printLine(output, std::string(dashCount, '-'));
}

void printRecord(Output& output, const InstalledPackage& package) {
  std::ostringstream line;
  line << std::setw(nameWidth) << package.name << " " << std::setw(1) << (package.disabled ? "X" : " ") << std::setw(2)
       << (package.bundle.name.empty() ? "  " : "B ") << std::setw(versionWidth) << libraryVersionText(package.version)
       << " " << std::setw(builtWidth) << formatBuildTime(package.buildTime) << " " << std::setw(noteWidth)
       << package.note;
  printLine(output, line.str());
}

}  // namespace

std::string formatBuildTime(uint32_t buildTime) {
  time_t seconds = static_cast<time_t>(buildTime);
  struct tm fields;
  if (gmtime_r(&seconds, &fields) == nullptr) return std::string();
  char text[128];
  size_t length = std::strftime(text, sizeof text, "%b/%d/%Y %H:%M:%S", &fields);
  return std::string(text, length);
}

void listPackages(const InstallerState& state) {
  printHeader(state.output);
  for (const auto& package : state.packages) printRecord(state.output, *package);
}

}  // namespace installer
