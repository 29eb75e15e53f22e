// The DFXML report of a scan: one fileobject per recovered file (name, size, the byte runs
// it was read from on the source, a run of zeros for a tail the medium cut, SHA-256), after
// the creator and source metadata.
//
// The report is written as the scan goes: each file is added in one write together with
// the closing tag, which the next file then overwrites, so a scan that is interrupted
// leaves a well-formed report of what it recovered so far.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scan/sector_map.h"
#include "storage/streams.h"

namespace morvane::cli {

struct DfxmlFile {
  std::string Name;             // as the report names it (no folder)
  int64_t Length = 0;           // bytes
  std::vector<SectorRun> Runs;  // source sectors in file order
  std::string Sha256;           // lower-case hex; empty: none
};

// The time now in UTC, as 2024-05-01T12:00:00Z.
std::string UtcNow();

class DfxmlReport {
 public:
  DfxmlReport() = default;
  DfxmlReport(const DfxmlReport&) = delete;
  DfxmlReport& operator=(const DfxmlReport&) = delete;
  ~DfxmlReport();

  // Creates (or empties) the file and writes the document without files, begun at
  // `startTime` (UtcNow's form); false with errno set when it cannot be written.
  bool Open(const std::string& path, const std::string& commandLine, const std::string& startTime,
            const std::string& imageName, uint32_t sectorSize);
  // Adds one file; false (errno set) when the write failed. Nothing is written once a
  // write has failed.
  bool Add(const DfxmlFile& file);
  bool Failed() const { return failed_; }
  int Error() const { return error_; }

 private:
  bool WriteAtEnd(const std::string& body);
  std::unique_ptr<TNewFileStream> file_;
  int64_t bodyEnd_ = 0;  // where the closing tag starts
  uint32_t sectorSize_ = 512;
  bool failed_ = false;
  int error_ = 0;
};

// Text made safe for XML character data and attribute values: &, <, >, ' and " escaped,
// bytes that are not valid UTF-8 and control characters written as %XX (and % as %25).
std::string XmlText(const std::string& text);

}  // namespace morvane::cli
