// Camera modes: cameras that write their videos in unusual ways get a mode of their own.
#pragma once

namespace morvane {

// At most one flag is set. Index 0 of the mode list is "Normal" (no flag).
struct TCameraMode {
  bool CanonPanasonic = false;  // bare "mdat" starts are candidates
  bool Samsung = false;         // "moov" starts, with the lead cluster in front of them
  bool Sony = false;            // the MP4 recogniser steps over claimed sectors in 4 MiB steps
  bool Ordro = false;           // headerless "00dc" AVI chunks are candidates

  bool operator==(const TCameraMode&) const = default;
};

}  // namespace morvane
