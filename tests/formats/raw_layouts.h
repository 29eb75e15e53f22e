// Camera raw files built the way each maker lays them out, small. Real previews are the
// EXIF JPEG samples; sensor data is filler. Each file ends with the last block its
// structures refer to, so its length is what a carver must find.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "formats/tiff_builder.h"
#include "support/test_support.h"

namespace morvane::test {

struct RawLayout {
  std::string name;
  std::string extension;            // what the file must be recovered as
  std::vector<uint8_t> bytes;
  std::string dateTime;             // the first date tag the walk meets ("" for none)
};

inline std::vector<uint8_t> ExifJpeg() { return ReadFileBytes(DataPath("jpeg/exif_le.jpg")); }      // 2014:07:15 10:20:31
inline std::vector<uint8_t> OtherExifJpeg() { return ReadFileBytes(DataPath("jpeg/exif_be.jpg")); }  // 2009:05:02 00:00:00

enum : uint16_t {
  tNewSubfileType = 254, tWidth = 256, tCompression = 259, tDescription = 270, tMake = 271, tModel = 272,
  tStrips = 273, tStripBytes = 279, tRawOffset = 280, tDateTime = 306, tTiles = 324, tTileBytes = 325,
  tSubIfds = 330, tJpeg = 513, tJpegLength = 514, tExif = 34665, tDateOriginal = 36867, tMakerNote = 37500,
  tDngVersion = 50706, tBaselineExposure = 50730,
};

// Canon CR2: "II*", IFD0 at 16, "CR" 2.0 and the raw IFD's offset at 8..15. IFD0 (Make,
// DateTime, full-size JPEG preview as its strip, EXIF) -> IFD1 (thumbnail as JPEG
// interchange) -> IFD2 (small RGB strip) -> IFD3 (the lossless-JPEG raw strip, last).
inline RawLayout Cr2() {
  std::vector<uint8_t> h = TiffHeader(false, 16);
  h[8] = 'C', h[9] = 'R', h[10] = 2;
  TiffBuilder b(false, h);
  const size_t ifd0 = b.AddIfd({b.Short(tWidth, 5616), b.Ascii(tMake, "Canon"), b.Ascii(tModel, "Canon EOS 5D Mark II"),
                                b.Long(tStrips, 0), b.Long(tStripBytes, 0), b.Ascii(tDateTime, "2020:02:03 04:05:06"),
                                b.Long(tExif, 0)});
  const size_t exif = b.AddIfd({b.Ascii(tDateOriginal, "2020:02:03 04:05:06"), b.Undefined(tMakerNote, std::vector<uint8_t>(300, 0x11))});
  const size_t ifd1 = b.AddIfd({b.Long(tJpeg, 0), b.Long(tJpegLength, 0)});
  const size_t ifd2 = b.AddIfd({b.Long(tStrips, 0), b.Long(tStripBytes, 0)});
  const size_t ifd3 = b.AddIfd({b.Short(tCompression, 6), b.Long(tStrips, 0), b.Long(tStripBytes, 0)});
  const auto jpeg = ExifJpeg();
  const size_t preview = b.Add(jpeg), thumb = b.AddFilled(3000, 1), rgb = b.AddFilled(6000, 2), raw = b.AddFilled(40001, 3);
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.Put32(12, static_cast<uint32_t>(ifd3));
  b.Patch(ifd0, tStrips, preview), b.Patch(ifd0, tStripBytes, jpeg.size()), b.Patch(ifd0, tExif, exif);
  b.Patch(ifd1, tJpeg, thumb), b.Patch(ifd1, tJpegLength, 3000);
  b.Patch(ifd2, tStrips, rgb), b.Patch(ifd2, tStripBytes, 6000);
  b.Patch(ifd3, tStrips, raw), b.Patch(ifd3, tStripBytes, 40001);
  b.SetNext(ifd0, ifd1), b.SetNext(ifd1, ifd2), b.SetNext(ifd2, ifd3);
  return {"cr2", ".CR2", b.bytes, "2020:02:03 04:05:06"};
}

// Nikon NEF, big-endian: IFD0 (a small RGB thumbnail strip, Make, two SubIFDs, EXIF);
// SubIFD 1 holds the JPEG preview, SubIFD 2 the raw strip; the EXIF IFD the shooting time
// and the maker note.
inline RawLayout Nef() {
  TiffBuilder b(true, TiffHeader(true));
  const size_t ifd0 = b.AddIfd({b.Long(tNewSubfileType, 1), b.Short(tWidth, 160), b.Ascii(tMake, "NIKON CORPORATION"),
                                b.Ascii(tModel, "NIKON D700"), b.Long(tStrips, 0), b.Long(tStripBytes, 0),
                                b.Longs(tSubIfds, {0, 0}), b.Long(tExif, 0)});
  const size_t sub1 = b.AddIfd({b.Long(tNewSubfileType, 1), b.Long(tJpeg, 0), b.Long(tJpegLength, 0)});
  const size_t sub2 = b.AddIfd({b.Long(tNewSubfileType, 0), b.Short(tCompression, 34713), b.Long(tStrips, 0), b.Long(tStripBytes, 0)});
  const size_t exif = b.AddIfd({b.Ascii(tDateOriginal, "2018:11:12 13:14:15"), b.Undefined(tMakerNote, std::vector<uint8_t>(500, 0x22))});
  const auto jpeg = ExifJpeg();
  const size_t thumb = b.AddFilled(2000, 4), preview = b.Add(jpeg), raw = b.AddFilled(50000, 5);
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.Patch(ifd0, tStrips, thumb), b.Patch(ifd0, tStripBytes, 2000), b.Patch(ifd0, tExif, exif);
  b.Patch(ifd0, tSubIfds, sub1, 0), b.Patch(ifd0, tSubIfds, sub2, 1);
  b.Patch(sub1, tJpeg, preview), b.Patch(sub1, tJpegLength, jpeg.size());
  b.Patch(sub2, tStrips, raw), b.Patch(sub2, tStripBytes, 50000);
  return {"nef", ".NEF", b.bytes, "2018:11:12 13:14:15"};
}

// Sony: IFD0 (ImageDescription, Make, JPEG preview, one SubIFD with the raw strip, EXIF)
// -> IFD1 (thumbnail). With the description "SONY DSC" it is an ARW; without any, an SR2.
inline RawLayout Sony(bool withDescription) {
  TiffBuilder b(false, TiffHeader(false));
  std::vector<TiffField> f;
  if (withDescription) f.push_back(b.Ascii(tDescription, "SONY DSC "));
  for (const TiffField& x : {b.Ascii(tMake, "SONY"), b.Ascii(tModel, withDescription ? "DSLR-A700" : "DSC-R1"),
                             b.Long(tSubIfds, 0), b.Long(tJpeg, 0), b.Long(tJpegLength, 0), b.Long(tExif, 0)})
    f.push_back(x);
  const size_t ifd0 = b.AddIfd(f);
  const size_t sub = b.AddIfd({b.Long(tStrips, 0), b.Long(tStripBytes, 0)});
  const size_t ifd1 = b.AddIfd({b.Long(tJpeg, 0), b.Long(tJpegLength, 0)});
  const size_t exif = b.AddIfd({b.Ascii(tDateOriginal, "2017:01:02 03:04:05")});
  const auto jpeg = ExifJpeg();
  const size_t preview = b.Add(jpeg), thumb = b.AddFilled(1500, 6), raw = b.AddFilled(30000, 7);
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.Patch(ifd0, tSubIfds, sub), b.Patch(ifd0, tJpeg, preview), b.Patch(ifd0, tJpegLength, jpeg.size()), b.Patch(ifd0, tExif, exif);
  b.Patch(sub, tStrips, raw), b.Patch(sub, tStripBytes, 30000);
  b.Patch(ifd1, tJpeg, thumb), b.Patch(ifd1, tJpegLength, 1500);
  b.SetNext(ifd0, ifd1);
  return {withDescription ? "arw" : "sr2", withDescription ? ".ARW" : ".SR2", b.bytes, "2017:01:02 03:04:05"};
}

// Olympus ORF: "IIRO"; IFD0 with the raw strip and EXIF, whose maker note carries the
// JPEG preview inside it (the maker note is the last block).
inline RawLayout Orf() {
  std::vector<uint8_t> h = TiffHeader(false);
  h[2] = 'R', h[3] = 'O';
  TiffBuilder b(false, h);
  const size_t ifd0 = b.AddIfd({b.Short(tWidth, 4032), b.Ascii(tMake, "OLYMPUS IMAGING CORP."), b.Long(tStrips, 0),
                                b.Long(tStripBytes, 0), b.Long(tExif, 0)});
  const size_t raw = b.AddFilled(30000, 8);
  std::vector<uint8_t> note = {'O', 'L', 'Y', 'M', 'P', 'U', 'S', 0, 'I', 'I', 3, 0};
  const auto jpeg = ExifJpeg();
  note.insert(note.end(), jpeg.begin(), jpeg.end());
  const size_t exif = b.AddIfd({b.Ascii(tDateOriginal, "2016:05:06 07:08:09"), b.Undefined(tMakerNote, note)});
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.Patch(ifd0, tStrips, raw), b.Patch(ifd0, tStripBytes, 30000), b.Patch(ifd0, tExif, exif);
  return {"orf", ".ORF", b.bytes, "2016:05:06 07:08:09"};
}

// Panasonic RW2: "IIU"; IFD0 with the embedded JPEG (tag 46, undefined), Make, the raw
// strip and the raw-data offset (tag 280) pointing at it.
inline RawLayout Rw2() {
  std::vector<uint8_t> h = TiffHeader(false);
  h[2] = 'U';
  TiffBuilder b(false, h);
  const size_t ifd0 = b.AddIfd({b.Short(1, 0x0200), b.Undefined(46, ExifJpeg()), b.Ascii(tMake, "Panasonic"),
                                b.Long(tStrips, 0), b.Long(tStripBytes, 0), b.Long(tRawOffset, 0)});
  const size_t raw = b.AddFilled(30000, 9);
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.Patch(ifd0, tStrips, raw), b.Patch(ifd0, tStripBytes, 30000), b.Patch(ifd0, tRawOffset, raw);
  return {"rw2", ".RW2", b.bytes, ""};
}

// Pentax PEF, big-endian: IFD0 (Make in capitals, the raw strip, EXIF) -> IFD1 (the JPEG
// preview as JPEG interchange, last in the file).
inline RawLayout Pef() {
  TiffBuilder b(true, TiffHeader(true));
  const size_t ifd0 = b.AddIfd({b.Short(tWidth, 3872), b.Ascii(tMake, "PENTAX Corporation"), b.Ascii(tModel, "PENTAX K10D"),
                                b.Long(tStrips, 0), b.Long(tStripBytes, 0), b.Ascii(tDateTime, "2015:10:11 12:13:14"),
                                b.Long(tExif, 0)});
  const size_t exif = b.AddIfd({b.Ascii(tDateOriginal, "2015:10:11 12:13:14")});
  const size_t ifd1 = b.AddIfd({b.Long(tJpeg, 0), b.Long(tJpegLength, 0)});
  const auto jpeg = OtherExifJpeg();
  const size_t raw = b.AddFilled(30000, 10), preview = b.Add(jpeg);
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.Patch(ifd0, tStrips, raw), b.Patch(ifd0, tStripBytes, 30000), b.Patch(ifd0, tExif, exif);
  b.Patch(ifd1, tJpeg, preview), b.Patch(ifd1, tJpegLength, jpeg.size());
  b.SetNext(ifd0, ifd1);
  return {"pef", ".PEF", b.bytes, "2015:10:11 12:13:14"};
}

// Adobe DNG from a Nikon: IFD0 (thumbnail strip, Make NIKON before BaselineExposure, two
// SubIFDs as a LONG array, the EXIF pointer typed IFD) with SubIFD 1 the raw data in four
// tiles and SubIFD 2 a JPEG preview; the EXIF IFD is the last thing in the file.
inline RawLayout Dng() {
  TiffBuilder b(false, TiffHeader(false));
  const size_t ifd0 = b.AddIfd({b.Long(tNewSubfileType, 1), b.Ascii(tMake, "NIKON CORPORATION"), b.Long(tStrips, 0),
                                b.Long(tStripBytes, 0), b.Longs(tSubIfds, {0, 0}), b.Long(tExif, 0, 13),
                                TiffField{tDngVersion, 1, 4, {1, 4, 0, 0}}, b.SRational(tBaselineExposure, 1, 2)});
  const size_t sub1 = b.AddIfd({b.Long(tNewSubfileType, 0), b.Longs(tTiles, {0, 0, 0, 0}), b.Longs(tTileBytes, {7000, 7001, 6999, 7003})});
  const size_t sub2 = b.AddIfd({b.Long(tNewSubfileType, 1), b.Long(tJpeg, 0), b.Long(tJpegLength, 0)});
  const auto jpeg = ExifJpeg();
  const size_t thumb = b.AddFilled(1200, 11), preview = b.Add(jpeg);
  size_t tiles[4];
  for (int i = 0; i < 4; ++i) tiles[i] = b.AddFilled(7000 + (i == 1) - (i == 2) + 3 * (i == 3), static_cast<uint8_t>(12 + i));
  const size_t exif = b.AddIfd({b.Ascii(tDateOriginal, "2013:03:04 05:06:07"), b.Undefined(tMakerNote, std::vector<uint8_t>(200, 0x33))});
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.Patch(ifd0, tStrips, thumb), b.Patch(ifd0, tStripBytes, 1200), b.Patch(ifd0, tExif, exif);
  b.Patch(ifd0, tSubIfds, sub1, 0), b.Patch(ifd0, tSubIfds, sub2, 1);
  for (int i = 0; i < 4; ++i) b.Patch(sub1, tTiles, tiles[i], i);
  b.Patch(sub2, tJpeg, preview), b.Patch(sub2, tJpegLength, jpeg.size());
  return {"dng", ".DNG", b.bytes, "2013:03:04 05:06:07"};
}

inline std::vector<RawLayout> TiffRawLayouts() { return {Cr2(), Nef(), Sony(true), Sony(false), Orf(), Rw2(), Pef(), Dng()}; }

// --- X3F and RAF ------------------------------------------------------------------------

inline void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline void AppendFilled(std::vector<uint8_t>& b, size_t n, uint32_t seed) {
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b.push_back(static_cast<uint8_t>(seed >> 16));
  }
}

// Sigma X3F (little-endian): a 64-byte "FOVb" header; a small JPEG preview (IMA2, format
// 18), the raw image (IMAG, format 3; inside it a value pointing 12 bytes back to a
// "SECd", which is no directory), a larger JPEG preview (IMA2, format 18), a property list
// (SECp); then the directory "SECd", version, 4 entries, and the pointer to it.
inline RawLayout X3f(const std::vector<uint8_t>& smallPreview, const std::vector<uint8_t>& largePreview) {
  std::vector<uint8_t> f = {'F', 'O', 'V', 'b', 0, 0, 3, 0};
  f.resize(64);
  struct Section { uint32_t at, length; const char* type; };
  std::vector<Section> sections;
  const auto image = [&](const char* type, uint32_t format, const std::vector<uint8_t>& data) {
    const auto at = static_cast<uint32_t>(f.size());
    std::vector<uint8_t> s = {'S', 'E', 'C', 'i', 0, 0, 2, 0};
    PutLe32(s, 8, 2), PutLe32(s, 12, format), PutLe32(s, 16, 640), PutLe32(s, 20, 480), PutLe32(s, 24, 0);
    s.insert(s.end(), data.begin(), data.end());
    f.insert(f.end(), s.begin(), s.end());
    while (f.size() % 4) f.push_back(0);
    sections.push_back({at, static_cast<uint32_t>(s.size()), type});
  };
  image("IMA2", 18, smallPreview);
  std::vector<uint8_t> raw;
  AppendFilled(raw, 20000, 21);
  // The decoy: at a 4-aligned place of the file, a value 12 bytes behind a "SECd".
  const size_t decoy = 8000;
  std::copy_n("SECd", 4, raw.begin() + decoy);
  const size_t decoyValueInFile = f.size() + 28 + decoy + 12;
  PutLe32(raw, decoy + 12, static_cast<uint32_t>(decoyValueInFile - 12));
  image("IMAG", 3, raw);
  image("IMA2", 18, largePreview);
  const auto props = static_cast<uint32_t>(f.size());
  f.insert(f.end(), {'S', 'E', 'C', 'p', 0, 0, 2, 0});
  AppendFilled(f, 92, 22);
  sections.push_back({props, 100, "PROP"});
  const auto dir = static_cast<uint32_t>(f.size());
  f.insert(f.end(), {'S', 'E', 'C', 'd', 0, 0, 2, 0});
  PutLe32(f, f.size(), static_cast<uint32_t>(sections.size()));
  for (const Section& s : sections) {
    const size_t e = f.size();
    PutLe32(f, e, s.at), PutLe32(f, e + 4, s.length);
    f.insert(f.end(), s.type, s.type + 4);
  }
  PutLe32(f, f.size(), dir);
  return {"x3f", ".X3F", f, ""};
}
inline RawLayout X3f() { return X3f(OtherExifJpeg(), ExifJpeg()); }

// Fujifilm RAF (big-endian header): magic, format version, camera id and name, then at 84
// the JPEG preview's offset and length, at 92 the metadata's, at 100 the raw data's. A file
// whose preview starts at 148 names a second raw block at 128 (its end is the file's end).
inline RawLayout Raf(bool secondBlock) {
  std::vector<uint8_t> f(16);
  std::copy_n("FUJIFILMCCD-RAW ", 16, f.begin());
  f.insert(f.end(), {'0', '2', '0', '1', 'F', 'F', '3', '8', '3', '5', '0', '1'});
  const std::string model = "X-T1";
  f.insert(f.end(), model.begin(), model.end());
  f.resize(secondBlock ? 148 : 160);
  const auto jpeg = ExifJpeg();
  const auto preview = static_cast<uint32_t>(f.size());
  f.insert(f.end(), jpeg.begin(), jpeg.end());
  const auto meta = static_cast<uint32_t>(f.size());
  AppendFilled(f, 800, 31);
  const auto raw1 = static_cast<uint32_t>(f.size());
  AppendFilled(f, 20000, 32);
  PutBe32(f, 84, preview), PutBe32(f, 88, static_cast<uint32_t>(jpeg.size()));
  PutBe32(f, 92, meta), PutBe32(f, 96, 800);
  PutBe32(f, 100, raw1), PutBe32(f, 104, 20000);
  if (secondBlock) {
    const auto raw2 = static_cast<uint32_t>(f.size());
    AppendFilled(f, 15000, 33);
    PutBe32(f, 128, raw2), PutBe32(f, 132, 15000);
  } else {
    PutBe32(f, 128, raw1), PutBe32(f, 132, 90000);  // not used: the preview is not at 148
  }
  return {secondBlock ? "raf2" : "raf", ".RAF", f, "2014:07:15 10:20:31"};
}

}  // namespace morvane::test
