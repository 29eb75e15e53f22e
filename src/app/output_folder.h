// The folder a scan writes into, checked before anything starts: it must be a folder (or one
// new folder inside an existing one, made here), writable, and not on the source's drive.
#pragma once

#include <string>

#include "storage/source.h"

namespace morvane {

enum class FolderCheck {
  Ok,
  Created,        // it did not exist and was made (one level)
  NotGiven,       // no folder named
  Missing,        // neither it nor its parent exists
  NotAFolder,     // a file (or another non-folder) has that name
  CreateFailed,   // making it failed (Reason says why)
  NotWritable,    // no file can be created in it (Reason says why)
  OnSource,       // it lies on the source's drive
};

struct FolderCheckResult {
  FolderCheck Outcome = FolderCheck::Ok;
  std::string Reason;  // the system's reason, for CreateFailed and NotWritable
  bool Usable() const { return Outcome == FolderCheck::Ok || Outcome == FolderCheck::Created; }
};

// Checks `folder` for `source`; with `create`, a missing last folder of the path is made
// once it is known not to lie on the source. A folder is writable when a new file can be
// created in it (and is removed again at once): the system's reason is kept otherwise.
FolderCheckResult CheckOutputFolder(const std::string& folder, const Source& source, bool create);

}  // namespace morvane
