// The desktop program's messages that are not numbered language texts, in the three
// languages: the output folder refusals, the end of a scan, the pause, the folder view.
#pragma once

#include <QString>

#include "app/language.h"

namespace morvane {

// The language whose numbered texts are in use.
Language CurrentLanguage();

enum class OwnText {
  FolderMissing,      // %1 folder, %2 its parent
  FolderIsFile,       // %1 the path
  FolderNotCreated,   // %1 folder, %2 the system's reason
  FolderNotWritable,  // %1 folder, %2 the system's reason
  Paused,
  NoFileManager,      // %1 folder
  ImageNotWritten,    // %1 path: the lead sentence of a backup that cannot write its image
  ImageWritten,       // %1 path, %2 size
  ReplaceImage,       // %1 path
  ContinueScan,       // %1 folder: it holds the state of an unfinished scan of this source
  ScanNotContinued,   // %1 folder, %2 why its unfinished scan cannot be continued
  ScanCanContinue,    // the line a stopped scan's message ends with when it can be continued
};

// Text `id` in the current language, with %1, %2 to be filled by the caller.
QString Own(OwnText id);

}  // namespace morvane
