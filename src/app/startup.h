// What a front end does at start-up before it shows anything: find the program folder,
// load the branding file and the thumbnail settings beside the program.
//
// A front end first calls InitFace(LanguageFromEnvironment()), then RunStartup; when that
// is not ok it shows language text kBrandingErrorText and exits with a failure status.
#pragma once

#include <string>

#include "app/branding.h"
#include "app/settings.h"

namespace morvane {

// The folder of the running program with a trailing '/'; empty when it cannot be found.
std::string ProgramFolder();

struct StartupResult {
  bool ok = false;  // false: the branding file is missing, unreadable or damaged
  Branding branding;
  ThumbnailSettings thumbnails;
};

// Loads the branding file from `programFolder`, then (only when that worked) the settings
// files.
StartupResult RunStartup(const std::string& programFolder);

}  // namespace morvane
