// Real JPEGs made on the spot with libjpeg's encoder, for pictures that are too large or too
// many to keep as files: a smooth colour picture with per-pixel noise over it. The noise
// decides the size of the entropy-coded data (full noise at quality 100 takes about four
// bytes a pixel).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace morvane::test {

struct SyntheticPhoto {
  int Width = 64;
  int Height = 48;
  int Quality = 90;
  uint32_t Seed = 1;
  int Noise = 16;            // amplitude of the noise; 255 or more: every byte random
  bool Progressive = false;
  bool FullChroma = false;   // 4:4:4 instead of 4:2:0
  bool Jfif = true;          // false: no application marker, quantisation tables first
};

inline std::vector<uint8_t> EncodeJpeg(const SyntheticPhoto& photo) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(photo.Width);
  cinfo.image_height = static_cast<JDIMENSION>(photo.Height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, photo.Quality, TRUE);
  cinfo.write_JFIF_header = photo.Jfif;
  if (photo.FullChroma)
    for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  if (photo.Progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);

  std::vector<JSAMPLE> row(static_cast<size_t>(photo.Width) * 3);
  uint32_t state = photo.Seed * 2654435761u + 1;
  auto next = [&state] {  // xorshift32
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  const int span = 2 * photo.Noise + 1;
  const uint32_t tint = photo.Seed * 41;
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < photo.Width; ++x) {
      const int base[3] = {static_cast<int>((x * 255 / photo.Width + tint) & 0xFF), y * 255 / photo.Height,
                           static_cast<int>(((x + y) / 4 + tint / 3) & 0xFF)};
      for (int c = 0; c < 3; ++c) {
        int v = photo.Noise >= 255 ? static_cast<int>(next() & 0xFF)
                                   : base[c] + static_cast<int>(next() % static_cast<uint32_t>(span)) - photo.Noise;
        row[static_cast<size_t>(x) * 3 + c] = static_cast<JSAMPLE>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> bytes(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return bytes;
}

}  // namespace morvane::test
