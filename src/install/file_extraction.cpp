#include "install/file_extraction.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "model/installer_files.h"
#include "model/messages.h"
#include "package/inflate_stream.h"
#include "package/package_format.h"
#include "package/stream_progress.h"
#include "platform/device_paths.h"
#include "platform/processor_variant.h"

namespace installer {

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

// What the extraction of one package works with.
struct Extraction {
  InstallerState& state;
  InstalledPackage& package;
  StagedFiles& staged;
  InflateStream& files;
  std::vector<char> chunk = std::vector<char>(copyChunkSize);
};

bool copyData(Extraction& run, WritableFile& out, const FileRecord& record) {
  for (uint32_t left = record.dataSize; left != 0;) {
    size_t wanted = std::min<size_t>(left, run.chunk.size());
    if (!run.files.read(run.chunk.data(), std::streamsize(wanted))) {
      reportBrokenPackage(run.state, run.package);
      return false;
    }
    Status written = out.append(run.chunk.data(), wanted);
    if (!written.isOk()) {
      reportInstallFailure(run.state, run.package, record.name, written);
      return false;
    }
    left -= static_cast<uint32_t>(wanted);
  }
  Status closed = out.close();
  if (closed.isOk()) return true;
  reportInstallFailure(run.state, run.package, record.name, closed);
  return false;
}

// Copies the record's data into a new staged file for `destination`.
bool writeFile(Extraction& run, const FileRecord& record, const std::string& destination, const RecordPlace& place) {
  std::unique_ptr<WritableFile> out;
  Status created = createStagedFile(run.staged, destination, record.dataSize, record.mode, out, &place);
  if (!created.isOk()) {
    reportInstallFailure(run.state, run.package, record.name, created);
    return false;
  }
  run.package.files.insert(extractedPath(run.package, record.name));
  return copyData(run, *out, record);
}

}  // namespace

bool extractRecords(PackageStream& stream, std::vector<RecordRequest>& requests) {
  InflateStream files(stream.streamBuffer());
  std::vector<char> chunk(copyChunkSize);
  size_t met = 0;
  for (uint32_t index = 0; met < requests.size(); ++index) {
    FileRecord record;
    if (!readRecordHeader(files, record) || !readName(files, record)) return false;
    RecordRequest* wanted = nullptr;
    for (RecordRequest& request : requests) {
      if (request.record == index && !request.written) wanted = &request;
    }
    if (wanted == nullptr) {
      if (!files.seekg(record.dataSize, std::ios_base::cur)) return false;
      continue;
    }
    for (uint32_t left = record.dataSize; left != 0;) {
      size_t take = std::min<size_t>(left, chunk.size());
      if (!files.read(chunk.data(), std::streamsize(take)) || !wanted->out->append(chunk.data(), take).isOk())
        return false;
      left -= static_cast<uint32_t>(take);
    }
    wanted->written = true;
    ++met;
  }
  return true;
}

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

bool extractFiles(InstallerState& state, InstalledPackage& package, StagedFiles& staged, PackageStream& stream) {
  InflateStream files(stream.streamBuffer());
  Extraction run{state, package, staged, files};
  std::string root = extractionRoot(package);
  RecordPlace place{stream.packageIndex(), 0};
  for (; files.good(); ++place.record) {
    FileRecord record;
    // A clean end of the inflated stream at a record boundary is the normal end.
    if (!readRecordHeader(files, record)) break;
    if (!readName(files, record) || !isSafeRecordName(record.name)) {
      reportBrokenPackage(state, package);
      return false;
    }
    if (!isForThisMachine(record)) {
      files.seekg(record.dataSize, std::ios_base::cur);
      continue;
    }
    std::string destination = root + extractedPath(package, record.name);
    // No package file may take a name the installer keeps for its own files.
    if (!canNameFile(record.name, destination) || isInstallerOwnPath(destination)) {
      reportBrokenPackage(state, package);
      return false;
    }
    if (!writeFile(run, record, destination, place)) return false;
    showInstallProgress(state, package, stream);
  }
  return true;
}

}  // namespace installer
