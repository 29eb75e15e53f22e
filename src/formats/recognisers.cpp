#include "formats/recognisers.h"

#include <array>

#include "filetypes/catalogue.h"
#include "formats/documents/ole.h"
#include "formats/documents/pdf.h"
#include "formats/documents/rar.h"
#include "formats/documents/sized_archives.h"
#include "formats/documents/zip.h"
#include "formats/documents/zip_walk.h"
#include "formats/media/asf.h"
#include "formats/media/matroska.h"
#include "formats/media/mp4.h"
#include "formats/media/mpeg_ps.h"
#include "formats/media/mpeg_ts.h"
#include "formats/media/riff.h"
#include "formats/pictures/bmp.h"
#include "formats/pictures/camera_raw.h"
#include "formats/pictures/cdr.h"
#include "formats/pictures/jpeg.h"
#include "formats/pictures/png.h"
#include "scan/file_type_id.h"

namespace morvane {
namespace {

using StreamRecogniser = int (*)(ScanContext&, const std::string&, const std::string&, int64_t);

// A stream recogniser given the folder and extension when its kind is selected, else run in
// claim-only mode.
RecogniserEntry SelectedOrClaimOnly(StreamRecogniser recover, uint32_t kind, const char* extension) {
  return [=](ScanContext& scan, int64_t offset) {
    const bool selected = (scan.Options.TypeMask & kind) != 0;
    recover(scan, selected ? scan.Options.OutputFolder : std::string(), selected ? extension : "", offset);
  };
}

// The stream pass only calls a stream recogniser when its kind is selected.
RecogniserEntry Selected(StreamRecogniser recover, const char* extension) {
  return [=](ScanContext& scan, int64_t offset) { recover(scan, scan.Options.OutputFolder, extension, offset); };
}

using Recogniser = int (*)(ScanContext&, const std::string&, int64_t);

// A recogniser given the folder when its kind is selected, else an empty one: it then only
// follows and claims the file.
RecogniserEntry FolderWhenSelected(Recogniser recover, uint32_t kind) {
  return [=](ScanContext& scan, int64_t offset) {
    const bool selected = (scan.Options.TypeMask & kind) != 0;
    recover(scan, selected ? scan.Options.OutputFolder : std::string(), offset);
  };
}

// A recogniser that always gets the folder and decides from TypeMask itself what to write.
RecogniserEntry WithFolder(Recogniser recover) {
  return [=](ScanContext& scan, int64_t offset) { recover(scan, scan.Options.OutputFolder, offset); };
}

// A RIFF form given the folder and extension when its kind is selected, else run in
// claim-only mode; AVI follows the Ordro camera mode.
RecogniserEntry RiffSelectedOrClaimOnly(uint32_t kind, const char* extension) {
  return [=](ScanContext& scan, int64_t offset) {
    const bool selected = (scan.Options.TypeMask & kind) != 0;
    RecoverRiff(scan, selected ? scan.Options.OutputFolder : std::string(), selected ? extension : "",
                kind == kTypeAvi && scan.Options.CameraMode.Ordro, offset);
  };
}

// A JPEG right behind an AVI video chunk header is a frame of a Motion-JPEG video: it waits
// for the late pass, so that the video (which starts in front of it and is therefore tried
// after it in the recovery pass) is carved whole first. A frame whose video is not found is
// still carved then.
bool IsAviFrame(ScanContext& scan, int64_t offset) {
  std::array<uint8_t, 8> header{};
  return offset >= 8 && scan.ReadSectors(header.data(), header.size(), offset - 8) == 0 &&
         IsAviVideoChunkHeader(ByteView(header.data(), header.size()));
}

RecogniserTable MakeTable() {
  RecogniserTable t;
  // JPEGs always get the folder: they are claimed even when JPG is not selected.
  t.Recovery[ftJpegApp] = [](ScanContext& scan, int64_t offset) {
    RecoverJpeg(scan, scan.Options.OutputFolder, offset);
  };
  // The ISO media family (videos, HEIF/AVIF pictures, CR3 raws) chooses by its brand and
  // TypeMask itself.
  for (uint8_t id : {ftMp4, ft3gp, ftMov, ftBareMdat, ftHeic, ftAvif, ftCr3, ftClassicMov})
    t.Recovery[id] = [](ScanContext& scan, int64_t offset) { RecoverMp4(scan, scan.Options.OutputFolder, offset); };
  // Compound files are followed and claimed whatever is selected; the kind found inside
  // decides whether one is written.
  t.Recovery[ftOle] = WithFolder(RecoverOleDocument);
  // Streams that begin at clock 0 are carved in the recovery pass (claimed even when their kind
  // is not selected); every other pack or packet waits for the stream pass.
  t.Recovery[ftMpeg1PackClockZero] = SelectedOrClaimOnly(RecoverMpg, kTypeMpg, ".MPG");
  t.Recovery[ftTs192First] = SelectedOrClaimOnly(RecoverM2ts, kTypeMts, ".MTS");
  t.Stream[ftMpeg1Pack] = Selected(RecoverMpg, ".MPG");
  t.Stream[ftTs192] = Selected(RecoverM2ts, ".MTS");
  t.Stream[ftTs192Headers] = Selected(RecoverM2tsWithJumpingClocks, ".MTS");
  t.Stream[ftTs188] = Selected(RecoverTs, ".TS");
  t.Stream[ftMpeg2PackClockZero] = t.Stream[ftMpeg2PackEarly] = Selected(RecoverVob, ".VOB");
  // Camera raw files choose by TypeMask themselves: unselected ones are still claimed.
  t.Recovery[ftTiffRaw] = WithFolder(RecoverTiffRaw);
  t.Recovery[ftX3f] = WithFolder(RecoverX3f);
  t.Recovery[ftRaf] = WithFolder(RecoverRaf);
  // Pictures get the folder always and look at TypeMask themselves.
  t.Recovery[ftPng] = WithFolder(RecoverPng);
  t.Recovery[ftBmp] = WithFolder(RecoverBmp);
  t.Recovery[ftPdf] = FolderWhenSelected(RecoverPdf, kTypeAi);
  // Both RAR formats: the marker says which.
  t.Recovery[ftRar] = t.Recovery[ftRar5] = FolderWhenSelected(RecoverRar, kTypeRar);
  // Matroska and WebM choose their name and look at TypeMask themselves.
  t.Recovery[ftMatroska] = t.Recovery[ftWebm] = WithFolder(RecoverMatroska);
  t.Recovery[ftCab] = FolderWhenSelected(RecoverCab, kTypeCab);
  t.Recovery[ft7z] = FolderWhenSelected(Recover7z, kType7z);
  // Packages and archives decide their kind from their central directory; a plain archive
  // whose first member is "_rels/.rels" (LibreOffice's packages) is a package too.
  // Selected or not, each is followed and claimed.
  t.Recovery[ftOfficeZip] = WithFolder(RecoverOoxml);
  t.Recovery[ftZip] = WithFolder(RecoverZip);
  // OpenDocument files and EPUB books are named by their "mimetype" entry.
  t.Recovery[ftOpenDocument] = WithFolder(RecoverZip);
  t.Recovery[ftRiffCdr] = WithFolder(RecoverCdrRiff);
  t.Recovery[ftZipCdr] = WithFolder(RecoverCdrZip);
  t.Recovery[ftRiffAvi] = RiffSelectedOrClaimOnly(kTypeAvi, ".AVI");
  t.Recovery[ftRiffWave] = RiffSelectedOrClaimOnly(kTypeWav, ".WAV");
  t.Recovery[ftRiffCdxa] = RiffSelectedOrClaimOnly(kTypeDat, ".DAT");
  t.Recovery[ftRiffWebp] = RiffSelectedOrClaimOnly(kTypeWebp, ".WEBP");
  // Animated cursors are never written, only kept from other recognisers.
  t.Recovery[ftRiffAcon] = [](ScanContext& scan, int64_t offset) { RecoverRiff(scan, "", "", false, offset); };
  t.Recovery[ftAvi00dc] = FolderWhenSelected(RecoverAviFragment, kTypeAvi);
  // ASF and WMV are told apart by their streams: the recogniser chooses by TypeMask itself.
  t.Recovery[ftAsfFileProperties] = WithFolder(RecoverAsf);
  t.Recovery[ftAsfOther] = WithFolder(RecoverWmv);
  t.Ahead[ftJpegApp] = &JpegCheckAhead();
  t.Ahead[ftPng] = &PngCheckAhead();
  t.Ahead[ftHeic] = t.Ahead[ftAvif] = &HeifCheckAhead();
  t.Ahead[ftBmp] = &BmpCheckAhead();
  t.Ahead[ftRiffWebp] = &WebpCheckAhead();
  // Files whose heads state their length are copied ahead of the recovery pass.
  t.CopyAhead[ftRiffAvi] = t.CopyAhead[ftRiffWave] = t.CopyAhead[ftRiffCdxa] = RiffStatedLength;
  t.CopyAhead[ftAsfFileProperties] = AsfStatedLength;
  t.CopyAhead[ftAsfOther] = WmvStatedLength;
  t.CopyAhead[ftZip] = t.CopyAhead[ftOpenDocument] = t.CopyAhead[ftZipCdr] = ZipStatedLength;
  t.CopyAhead[ft7z] = SevenZipStatedLength;
  t.CopyAhead[ftCab] = CabinetStatedLength;
  t.CopyAhead[ftRar] = t.CopyAhead[ftRar5] = RarStatedLength;
  t.CopyAhead[ftMatroska] = t.CopyAhead[ftWebm] = MatroskaStatedLength;
  t.CopyAhead[ftTiffRaw] = TiffRawStatedLength;
  for (uint8_t id : {ftMp4, ft3gp, ftMov, ftCr3}) t.CopyAhead[id] = Mp4StatedLength;
  t.WalkAhead[ftTs188] = TsWalkAhead;
  t.WalkAhead[ftTs192First] = t.WalkAhead[ftTs192] = M2tsWalkAhead;
  t.WalkAhead[ftTs192Headers] = M2tsWithJumpingClocksWalkAhead;
  t.WalkAhead[ftMpeg2PackClockZero] = t.WalkAhead[ftMpeg2PackEarly] = VobWalkAhead;
  t.WalkAhead[ftMpeg1PackClockZero] = t.WalkAhead[ftMpeg1Pack] = MpgWalkAhead;
  t.WalkAhead[ftPdf] = PdfWalkAhead;
  t.JpegWaitsForLatePass = IsAviFrame;
  t.LateJpeg = [](ScanContext& scan, int64_t offset) { RecoverJpeg(scan, scan.Options.OutputFolder, offset); };
  t.LateJpegAhead = &JpegCheckAhead();
  return t;
}

}  // namespace

const RecogniserTable& DefaultRecognisers() {
  static const RecogniserTable table = MakeTable();
  return table;
}

}  // namespace morvane
