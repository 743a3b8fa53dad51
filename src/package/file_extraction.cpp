#include "package/file_extraction.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "package/inflate_stream.h"
#include "package/package_format.h"
#include "package/stream_progress.h"
#include "platform/device_paths.h"
#include "platform/processor_variant.h"
#include "rules/messages.h"

namespace {

constexpr size_t copyChunkSize = 16384;

struct FileRecord {
  uint32_t mode = 0;
  uint8_t variant = 0;
  uint32_t dataSize = 0;
  uint16_t nameLength = 0;
  std::string name;
};

bool readRecordHeader(InflateStream& files, FileRecord& record) {
  uint8_t header[FileRecordHeaderSize];
  if (!files.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  record.mode = decodeLE16(header + FileModeOffset);
  record.variant = header[FileVariantOffset];
  record.dataSize = decodeLE32(header + FileDataSizeOffset);
  record.nameLength = decodeLE16(header + FileNameLengthOffset);
  return true;
}

bool readName(InflateStream& files, FileRecord& record) {
  record.name.assign(record.nameLength, '\0');
  if (record.nameLength == 0) return true;
  return static_cast<bool>(files.read(&record.name[0], record.nameLength));
}

// Regular files for every machine or for this machine's variant.
bool isForThisMachine(const FileRecord& record) {
  if ((record.mode & FileTypeMask) != RegularFileType) return false;
  return record.variant == 0 || record.variant == processorVariant();
}

// Splits on "/" and calls `check` on every component, empty ones included.
template <typename Check>
bool allComponents(const std::string& path, Check check) {
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    if (!check(path.substr(start, end == std::string::npos ? std::string::npos : end - start))) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// Copies the record's data into a new staged file for `destination`.
bool writeFile(InstalledPackage& package, StagedFiles& staged, InflateStream& files, const FileRecord& record,
               const std::string& destination, std::vector<char>& chunk) {
  std::ofstream out = createStagedFile(staged, destination, record.dataSize, record.mode);
  if (!out.is_open()) {
    reportInstallFailure(package, record.name);
    return false;
  }
  package.files.insert(extractedPath(package, record.name));
  for (uint32_t left = record.dataSize; left != 0;) {
    size_t wanted = std::min<size_t>(left, chunk.size());
    if (!files.read(chunk.data(), std::streamsize(wanted))) {
      reportBrokenPackage(package);
      return false;
    }
    if (!out.write(chunk.data(), std::streamsize(wanted))) {
      reportInstallFailure(package, record.name);
      return false;
    }
    left -= static_cast<uint32_t>(wanted);
  }
  out.close();
  if (!out) {
    reportInstallFailure(package, record.name);
    return false;
  }
  return true;
}

}  // namespace

std::string extractedPath(const InstalledPackage& package, const std::string& name) {
  std::string path;
  if (package.disabled) path = "/x/" + package.name;
  if (name.empty() || name[0] != '/') path += '/';
  return path + name;
}

std::string extractionRoot(const InstalledPackage& package) {
  return package.dbPrefix == paths::databaseDir ? std::string(paths::flashRoot) : package.dbPrefix;
}

bool isSafeRecordName(const std::string& name) {
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return allComponents(name, [](const std::string& component) { return component != ".."; });
}

bool canNameFile(const std::string& name, const std::string& destination) {
  if (name.empty() || name.back() == '/') return false;
  size_t slash = name.rfind('/');
  std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
  if (last == "." || last == "..") return false;
  if (destination.size() >= PATH_MAX) return false;
  return allComponents(destination, [](const std::string& component) { return component.size() <= NAME_MAX; });
}

bool extractFiles(InstalledPackage& package, StagedFiles& staged, PackageStream& stream) {
  InflateStream files(stream.streamBuffer());
  std::string root = extractionRoot(package);
  std::vector<char> chunk(copyChunkSize);
  while (files.good()) {
    FileRecord record;
    // A clean end of the inflated stream at a record boundary is the normal end.
    if (!readRecordHeader(files, record)) break;
    if (!readName(files, record) || !isSafeRecordName(record.name)) {
      reportBrokenPackage(package);
      return false;
    }
    if (!isForThisMachine(record)) {
      files.seekg(record.dataSize, std::ios_base::cur);
      continue;
    }
    std::string destination = root + extractedPath(package, record.name);
    if (!canNameFile(record.name, destination)) {
      reportBrokenPackage(package);
      return false;
    }
    if (!writeFile(package, staged, files, record, destination, chunk)) return false;
    showInstallProgress(package, stream);
  }
  return true;
}
