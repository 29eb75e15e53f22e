// Content checks of the pictures the ISO media and RIFF families carry: pure functions of a
// whole file's bytes, deciding whether a recognised file is kept.
#pragma once

#include "storage/bytes.h"

namespace morvane {

// False in a build without the picture decoders (Windows): the two checks below then pass
// every file, which is kept on its structure alone.
extern const bool kPictureDecodeChecks;

// True when libheif reads the HEIF/AVIF file and decodes its primary picture.
bool HeifPictureDecodes(ByteView file);

// True when libwebp decodes the WebP file: a still picture whole, an animation's frames
// demuxed and its first frame decoded.
bool WebpPictureDecodes(ByteView file);

}  // namespace morvane
