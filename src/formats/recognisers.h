// The recognisers of every format, by candidate type, as the scan driver calls them.
#pragma once

#include "scan/scan_driver.h"

namespace morvane {

// The table of all recognisers that exist. Kinds whose recogniser is not there yet have an
// empty entry: their candidates only keep their place in the list.
const RecogniserTable& DefaultRecognisers();

}  // namespace morvane
