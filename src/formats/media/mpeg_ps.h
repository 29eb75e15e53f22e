// The MPEG program-stream recognisers: VOB (MPEG-2) and MPG (MPEG-1).
//
// A program stream has no header and no length. It is followed from a pack header (00 00 01
// BA) pack by pack and packet by packet: every other start code 00 00 01 xx is a packet
// whose bytes 4..5 give the length of the rest; the program end code 00 00 01 B9 is four
// bytes long. The stream ends, normally, before the first place that is not a start code,
// before a pack of the other MPEG version, where the range ends or a sector cannot be read,
// and before a pack that begins a cluster of the source with a clock that does not move
// forward by at most a few seconds (the clock of such a pack says whether the cluster
// continues this stream or holds another recording). What was followed is written
// unchanged, through to the file as the walk advances.
//
// The candidate's own pack must be of the recogniser's version and carry a clock below the
// largest step (a stream start); otherwise there is no stream there: nothing is claimed and
// no file is created. In claim-only mode packets of two sectors or more are claimed without
// being read, and only a window of the last sectors is held.
#pragma once

#include <cstdint>
#include <string>

#include "scan/copies_ahead.h"
#include "scan/scan_context.h"

namespace morvane {

// Carves the stream whose pack header starts at startOffset. An empty folder or extension
// is claim-only mode. Always return 0.
int RecoverVob(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset);
int RecoverMpg(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset);

// The walks made ahead of the pass (scan/copies_ahead.h) for each of them. They follow the
// clock at every pack, not only where a cluster begins.
int64_t VobWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress);
int64_t MpgWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress);

}  // namespace morvane
