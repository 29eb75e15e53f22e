// The RIFF recogniser (AVI, WAV, video-CD DAT, animated cursors, WebP pictures) and the
// recogniser of bare AVI stream data (".A00").
//
// Neither has an end marker: files are followed chunk by chunk (a four-letter identifier, a
// 32-bit little-endian length not counting the 8-byte header, a pad byte after an odd
// length) from the start sector through the following unclaimed sectors, and end in front
// of the first chunk whose identifier is not one such files have at their top level, or
// whose length is 0. A chunk that runs past the end of the scan range rejects the whole
// file. Lists are copied whole. A WAVE file is followed through every chunk with a printable
// identifier inside the size its RIFF head states, and kept only when it holds audio. A "RIFF" head of the form "AVIX" met on the way is the next
// part of a large (OpenDML) AVI: its 12 bytes are stepped over and its chunks walked too.
//
// Ordro camera mode: the AVI's "movi" list is entered instead of copied, and its index
// chunks ("ix00", "ix01") are walked; the first stream chunk ends the file. The stream data
// such cameras leave without a header ("00dc" video and "01wb" sound chunks) is carved from
// its first sector-aligned "00dc" chunk by RecoverAviFragment.
//
// WebP pictures (form "WEBP" with "VP8 ", "VP8L" or "VP8X" first) end where the size in
// their head says; every chunk inside is theirs. One is kept only whole and when libwebp
// decodes it, so it is assembled in memory (at most 256 MiB), written or only claimed.
//
// A kind that is not selected (and every animated cursor) is followed and claimed, but only
// the sectors holding chunk headers are read.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"
#include "storage/bytes.h"

namespace morvane {

// What a walk does with the chunk whose header it reads.
enum class ChunkStep {
  Over,   // copy (or claim) the whole chunk and go on behind it
  Enter,  // step over the 12-byte head and walk the chunks inside
  End,    // the file ends in front of this chunk
};
struct ChunkVerdict {
  ChunkStep step = ChunkStep::End;
  int64_t advance = 0;  // bytes the walk moves on by: the head (Enter) or the whole chunk (Over)
};

// The verdict on a chunk header: 12 bytes for RIFF files (identifier, length, list type),
// 8 for bare stream data (fragment).
ChunkVerdict JudgeRiffChunk(ByteView header, bool ordroMode);
ChunkVerdict JudgeStreamChunk(ByteView header);

// True for the header of an AVI video chunk ("00dc" … "99db", two digits of the stream
// number, then "dc" compressed or "db" uncompressed video) with data in it: what stands in
// front of every frame of a Motion-JPEG AVI.
bool IsAviVideoChunkHeader(ByteView header);

// The decode check of WebP pictures, run ahead of the recovery pass.
const AheadCheck& WebpCheckAhead();

// Carves the RIFF file starting at startOffset. An empty folder or extension is claim-only
// mode. Always returns 0.
int RecoverRiff(ScanContext& scan, const std::string& outputFolder, const std::string& extension, bool ordroMode,
                int64_t startOffset);

// How long the RIFF file (AVI, WAV, DAT) at startOffset is when it lies in one piece, as
// far as its chunk headers tell within limit bytes (scan/copies_ahead.h); 0 for a WebP
// picture. The AVI walk is the one outside Ordro camera mode.
int64_t RiffStatedLength(Source& source, int64_t startOffset, int64_t limit);

// Carves bare AVI stream data starting with a "00dc" chunk at startOffset as ".A00". An empty
// folder is claim-only mode. Always returns 0.
int RecoverAviFragment(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
