#include "scan/start_ledger.h"

namespace morvane {

const char* StartFateKey(StartFate fate) {
  switch (fate) {
    case StartFate::Recovered: return "recovered";
    case StartFate::InsideAnotherFile: return "insideAnotherFile";
    case StartFate::OffGrid: return "offGrid";
    case StartFate::NoStructure: return "noStructure";
    case StartFate::ContentCheck: return "contentCheck";
    case StartFate::OutsidePhotoDates: return "outsidePhotoDates";
    case StartFate::KindNotSelected: return "kindNotSelected";
    case StartFate::CutByRangeEnd: return "cutByRangeEnd";
    case StartFate::TooShort: return "tooShort";
    case StartFate::TooLarge: return "tooLarge";
    case StartFate::Thumbnail: return "thumbnail";
    case StartFate::Unreadable: return "unreadable";
    case StartFate::WriteFailed: return "writeFailed";
    case StartFate::NoRecogniser: return "noRecogniser";
    case StartFate::Count: break;
  }
  return "?";
}

}  // namespace morvane
