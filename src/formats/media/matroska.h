// The Matroska / WebM recogniser.
//
// A file starts with an EBML header ("1A 45 DF A3") whose DocType is "matroska" (.MKV) or
// "webm" (.WEBM), followed at once by the Segment that holds everything else; both headers
// lie in the start sector. Every element is an ID (1 to 4 bytes), a data size (1 to 8 bytes,
// all value bits set when the size is unknown) and its data.
//
// A Segment of known size ends where its size says; its first element must be one a segment
// holds. A Segment of unknown size (written as a stream: a live recorder, a muxer writing to
// a pipe) is followed element by element along its top level (SeekHead, Info, Tracks,
// Cluster, Cues, Attachments, Chapters, Tags, Void, CRC-32) and ends behind the last whole
// element: in front of anything else, of an element that runs past the end of the range,
// or where the range ends. A Cluster of unknown size is followed across its own elements
// (timestamps, blocks, ...) the same way. Such a file holds at least one Cluster.
//
// Elements are stepped over whole: in claim-only mode their sectors are claimed unread.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

// How long the file at startOffset is when it lies in one piece, as RecoverMatroska would
// find it within limit bytes (scan/copies_ahead.h); a segment written as a stream is walked
// across at most a bounded number of element headers.
int64_t MatroskaStatedLength(Source& source, int64_t startOffset, int64_t limit);

// Carves the file starting at startOffset as .MKV or .WEBM when MKV is selected and
// outputFolder is not empty; otherwise only claims it. Always returns 0.
int RecoverMatroska(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
