// The ISO base media recogniser: MP4 / MOV / 3GP videos, HEIF/HEIC and AVIF pictures, CR3 raws.
//
// Files of the ISO base media family are followed box by box along their top level (the
// 32-bit size and type of each box, or the 64-bit size when the 32-bit one is 1), from the
// start sector through the following unclaimed sectors. The file ends before the first box
// of a type that a plain camera or muxer file does not have at its top level (a fragment,
// "meta", anything unknown), before a box of size 0, or where the scan range ends. The
// bytes are copied unchanged and cut to the exact length.
//
// The brands of the "ftyp" box decide the kind. A picture brand, major or compatible
// (heic heix hevc heim heis mif1 msf1: .HEIC, or .HEIF when only mif1/msf1 say so; avif
// avis: .AVIF), makes a picture, never a video: its top-level "meta" box is followed too and
// read for the item locations ("iloc"), whose furthest extent the file must reach (and
// which ends a media-data box of size 0); the picture is kept only when libheif decodes it,
// so it is assembled in memory (at most 256 MiB) whether written or only claimed. The major
// brand "crx " is a Canon CR3 raw (RAW kind, .CR3), followed as a video is. Otherwise
// "mp4…" is MP4, "3gp…" is 3GP, every other brand (the QuickTime "qt  ", "isom", …) is MOV.
// A file is never only a header: a video needs its movie header or media data, a CR3 both,
// a picture its "meta" box and all its items' data. A kind that is not selected is still
// followed and claimed, but only sectors holding box headers are read. The camera modes:
//   Canon/Panasonic  a bare "mdat" start is a candidate of its own, written as .MDAT
//                    (when MOV is selected; not counted as a recovered file);
//   Samsung          the cluster that the driver kept from in front of a "moov" box is
//                    spliced in as the second cluster of the next file written;
//   Sony             claimed sectors are stepped over 4 MiB at a time.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

inline constexpr int64_t kSonyClaimedStepBytes = 0x400000;  // 4 MiB
inline constexpr int64_t kMp4LongFirstBox = 256;             // first boxes this long only in .MDAT

// The decode check of HEIF/AVIF pictures, run ahead of the recovery pass.
const AheadCheck& HeifCheckAhead();

// How long the video (or CR3) at startOffset says it is, for the copy made ahead of the pass.
int64_t Mp4StatedLength(Source& source, int64_t startOffset, int64_t limit);

// Carves the file starting at startOffset. Always returns 0.
int RecoverMp4(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
