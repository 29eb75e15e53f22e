#include "scan/recovered_file.h"

#include <unistd.h>

#include <cstdio>

#include "scan/scan_context.h"

namespace morvane {

std::string SectorName(int64_t byteOffset) {
  uint64_t v = static_cast<uint64_t>(byteOffset) >> 9;
  std::string name(8, 'A');
  for (int i = 7; i >= 0; --i) {
    name[static_cast<size_t>(i)] = static_cast<char>('A' + v % 26);
    v /= 26;
  }
  return name;
}

std::string RecoveredFileName(const std::string& folder, int64_t byteOffset, const std::string& extension) {
  return folder + "TEST_" + SectorName(byteOffset) + extension;
}

std::string PartialFileName(const std::string& fileName) { return fileName + ".part"; }

std::string FileExtension(const std::string& fileName) {
  size_t slash = fileName.find_last_of('/');
  size_t dot = fileName.find('.', slash == std::string::npos ? 0 : slash + 1);
  return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

namespace {

bool WriteWhole(ByteView bytes, const std::string& fileName) {
  const std::string partial = PartialFileName(fileName);
  bool ok = false;
  {
    auto file = OpenOutputFileStream(partial, fmCreate);
    if (!file) return false;
    ok = bytes.size() == 0 ||
         file->Write(bytes.data(), static_cast<int64_t>(bytes.size())) == static_cast<int64_t>(bytes.size());
  }
  if (ok) ok = std::rename(partial.c_str(), fileName.c_str()) == 0;
  if (!ok) ::unlink(partial.c_str());
  return ok;
}

}  // namespace

bool AskRetryAfterSaveFailure(ScanContext& scan, const std::string& fileName) {
  switch (scan.Observer().OnSaveFailed(fileName)) {
    case SaveFailureChoice::Retry:
      return true;
    case SaveFailureChoice::Abort:
      scan.RunState = rsStopped;
      return false;
    case SaveFailureChoice::Ignore:
      return false;
  }
  return false;
}

bool SaveRecoveredFile(ScanContext& scan, ByteView bytes, const std::string& fileName) {
  while (!WriteWhole(bytes, fileName))
    if (!AskRetryAfterSaveFailure(scan, fileName)) return false;
  return true;
}

bool SaveRecoveredFile(ScanContext& scan, const MemoryStream& stream, const std::string& fileName) {
  return SaveRecoveredFile(scan, ByteView(stream.Bytes().data(), stream.Bytes().size()), fileName);
}

}  // namespace morvane
