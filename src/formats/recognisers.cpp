#include "formats/recognisers.h"

#include "formats/documents/ole.h"
#include "formats/media/mp4.h"
#include "formats/pictures/jpeg.h"
#include "scan/file_type_id.h"

namespace morvane {
namespace {

RecogniserTable MakeTable() {
  RecogniserTable t;
  // JPEGs always get the folder: they are claimed even when JPG is not selected.
  t.Recovery[ftJpegApp] = [](ScanContext& scan, int64_t offset) {
    RecoverJpeg(scan, scan.Options.OutputFolder, offset);
  };
  // The ISO media family chooses by its brand and TypeMask itself.
  for (uint8_t id : {ftMp4, ft3gp, ftMov, ftBareMdat})
    t.Recovery[id] = [](ScanContext& scan, int64_t offset) { RecoverMp4(scan, scan.Options.OutputFolder, offset); };
  // Compound files are followed and claimed whatever is selected; the kind found inside
  // decides whether one is written.
  t.Recovery[ftOle] = [](ScanContext& scan, int64_t offset) {
    RecoverOleDocument(scan, scan.Options.OutputFolder, offset);
  };
  t.LateJpeg = [](ScanContext& scan, int64_t offset) { RecoverJpeg(scan, scan.Options.OutputFolder, offset); };
  return t;
}

}  // namespace

const RecogniserTable& DefaultRecognisers() {
  static const RecogniserTable table = MakeTable();
  return table;
}

}  // namespace morvane
