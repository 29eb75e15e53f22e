// Naming and writing of recovered files.
//
// A recovered file is called "TEST_" + the 8-letter name of its start position + the
// format's extension, in the output folder. Files are always written under a temporary name
// beside the final one (the final name + ".part") and renamed into place once they are
// complete, so a file under a final name is never half-written; a temporary file that
// could not be completed is deleted.
#pragma once

#include <cstdint>
#include <string>

#include "storage/bytes.h"
#include "storage/streams.h"

namespace morvane {

class ScanContext;

// Eight letters 'A'..'Z' naming the 512-byte unit of byteOffset (512-byte units whatever
// the sector size), most significant letter first; wraps after 26^8 units.
std::string SectorName(int64_t byteOffset);

// folder (ending in '/') + "TEST_" + SectorName(byteOffset) + extension.
std::string RecoveredFileName(const std::string& folder, int64_t byteOffset, const std::string& extension);

// The name a file is written under until it is complete.
std::string PartialFileName(const std::string& fileName);

// Everything from the first '.' of the file name's last path component (".JPG",
// ".ENC.DOCX"); empty when there is none.
std::string FileExtension(const std::string& fileName);

// Asks the observer about a file that could not be written: true for Retry; Abort also
// sets RunState to stopped.
bool AskRetryAfterSaveFailure(ScanContext& scan, const std::string& fileName);

// Writes bytes as fileName (replacing an earlier file of that name). When that fails the
// observer is asked: Retry writes again, Abort sets RunState to stopped, Ignore gives up.
// Returns whether the file was written. Counting and reporting are left to the caller.
bool SaveRecoveredFile(ScanContext& scan, ByteView bytes, const std::string& fileName);
// The whole stream, whatever its position (which is left as it was).
bool SaveRecoveredFile(ScanContext& scan, const MemoryStream& stream, const std::string& fileName);

}  // namespace morvane
