// Candidate type codes: what the classifier says a sector can be the start of.
//
// The numbers are stored in the work files of a scan and drive the choice of recogniser and
// the cluster-phase vote, so they never change.
#pragma once

#include <cstdint>
#include <string_view>

namespace morvane {

enum FileTypeId : uint8_t {
  ftNone = 0,                  // no candidate
  ftJpegApp = 1,               // JPEG, first marker APP0 or APP1
  ftJpegOther = 2,             // JPEG, other first marker
  ftGif = 3,                   // GIF 89a
  ftBmp = 4,                   // Windows bitmap
  ftOle = 5,                   // OLE compound file
  ftJetDb = 6,                 // Jet database
  ftRiffAvi = 7,               // RIFF AVI
  ftId3Audio = 8,              // ID3-tagged audio
  ftPng = 9,                   // PNG
  ftRiffWave = 10,             // RIFF WAVE
  ftRiffAcon = 11,             // RIFF ACON (animated cursor)
  ftRiffCdxa = 12,             // RIFF CDXA (video CD)
  ftAsfFileProperties = 13,    // ASF whose first object is the file-properties object
  ftTiffRaw = 14,              // TIFF-based camera raw
  ftRar = 15,                  // RAR
  ftZip = 16,                  // ZIP
  ftCab = 17,                  // CAB
  ft7z = 18,                   // 7Z
  ftMp4 = 19,                  // MP4 family, brand "mp4"
  ftAsfOther = 20,             // ASF with another first object (WMV)
  ftOfficeZip = 21,            // ZIP holding "[Content_Types].xml" first (office document)
  ftPdf = 22,                  // PDF
  ft3gp = 23,                  // MP4 family, brand "3gp"
  ftMov = 24,                  // MP4 family, other brand (MOV)
  ftX3f = 25,                  // X3F camera raw
  ftRaf = 26,                  // RAF camera raw
  ftRiffCdr = 27,              // RIFF CDR drawing
  ftZipCdr = 28,               // ZIP-based CDR drawing
  ftMpeg2PackClockZero = 29,   // MPEG-2 pack, clock 0
  ftMpeg2PackEarly = 30,       // MPEG-2 pack, clock below 320000
  ftMpeg1PackClockZero = 31,   // MPEG-1 pack, clock 0
  ftMpeg1Pack = 32,            // MPEG-1 pack, clock not 0
  ftTs192First = 33,           // 192-byte-packet transport stream, first time stamp 0
  ftTs192 = 34,                // 192-byte-packet transport stream, other
  ftTs188 = 35,                // 188-byte-packet transport stream
  ftBareMdat = 36,             // bare "mdat" box (Canon/Panasonic camera mode)
  ftMoovBox = 37,              // "moov" box (Samsung camera mode)
  ftAvi00dc = 38,              // AVI "00dc" chunk without header (Ordro camera mode)
  ftHeic = 39,                 // ISO media, HEIF picture brand (heic, mif1, ...)
  ftAvif = 40,                 // ISO media, AVIF picture brand
  ftCr3 = 41,                  // ISO media, brand "crx " (Canon CR3 camera raw)
  ftRiffWebp = 42,             // RIFF WEBP
  ftRar5 = 43,                 // RAR 5
  ftMatroska = 44,             // EBML header, DocType "matroska"
  ftWebm = 45,                 // EBML header, DocType "webm"
  ftOpenDocument = 46,         // ZIP holding an uncompressed "mimetype" first (OpenDocument, EPUB)
  ftClassicMov = 47,           // QuickTime box without "ftyp" in front (moov, mdat, wide, free, skip)
  ftTs192Headers = 48,         // 192-byte-packet transport stream whose arrival times jump, entered at a unit start
  ftFsMetadata = 100,          // file-system metadata: NTFS record or index block, FAT directory
};

// A short English description of a type code, for reports and logs.
constexpr std::string_view DescribeFileTypeId(uint8_t id) {
  switch (id) {
    case ftNone: return "no candidate";
    case ftJpegApp: return "JPEG (APP0/APP1 first)";
    case ftJpegOther: return "JPEG (other first marker)";
    case ftGif: return "GIF 89a";
    case ftBmp: return "BMP";
    case ftOle: return "OLE compound file";
    case ftJetDb: return "Jet database";
    case ftRiffAvi: return "RIFF AVI";
    case ftId3Audio: return "ID3-tagged audio";
    case ftPng: return "PNG";
    case ftRiffWave: return "RIFF WAVE";
    case ftRiffAcon: return "RIFF ACON (animated cursor)";
    case ftRiffCdxa: return "RIFF CDXA (video CD)";
    case ftAsfFileProperties: return "ASF (file properties first)";
    case ftTiffRaw: return "TIFF-based camera raw";
    case ftRar: return "RAR";
    case ftZip: return "ZIP";
    case ftCab: return "CAB";
    case ft7z: return "7Z";
    case ftMp4: return "MP4";
    case ftAsfOther: return "ASF (WMV)";
    case ftOfficeZip: return "Office Open XML document";
    case ftPdf: return "PDF";
    case ft3gp: return "3GP";
    case ftMov: return "MOV";
    case ftX3f: return "X3F camera raw";
    case ftRaf: return "RAF camera raw";
    case ftRiffCdr: return "CDR drawing (RIFF)";
    case ftZipCdr: return "CDR drawing (ZIP)";
    case ftMpeg2PackClockZero: return "MPEG-2 pack, clock 0";
    case ftMpeg2PackEarly: return "MPEG-2 pack, early clock";
    case ftMpeg1PackClockZero: return "MPEG-1 pack, clock 0";
    case ftMpeg1Pack: return "MPEG-1 pack";
    case ftTs192First: return "transport stream, 192-byte packets, first time stamp 0";
    case ftTs192: return "transport stream, 192-byte packets";
    case ftTs188: return "transport stream, 188-byte packets";
    case ftBareMdat: return "bare mdat box";
    case ftMoovBox: return "moov box";
    case ftAvi00dc: return "AVI 00dc chunk";
    case ftHeic: return "HEIF picture";
    case ftAvif: return "AVIF picture";
    case ftCr3: return "CR3 camera raw";
    case ftRiffWebp: return "RIFF WEBP";
    case ftRar5: return "RAR 5";
    case ftMatroska: return "Matroska";
    case ftWebm: return "WebM";
    case ftOpenDocument: return "OpenDocument or EPUB";
    case ftClassicMov: return "classic QuickTime (no ftyp)";
    case ftTs192Headers: return "transport stream, 192-byte packets, arrival times jumping";
    case ftFsMetadata: return "file-system metadata";
    default: return "unknown";
  }
}

}  // namespace morvane
