// What became of every file start the search pass found.
//
// Each start of a selected kind either becomes a recovered file or is written down here
// with why it did not: a compact record (its sector, type and fate), made only for those
// that fail. The driver opens each candidate it tries (Begin); while it runs, the
// recognition protocol guesses the fate from how a recognition ended (refused, failed a
// read, ran past the range end, committed without writing) and a recogniser that knows
// better says so (Note): a picture that does not decode, a photo outside the dates. Only
// what is said about the candidate's own start sector counts; files found inside it have
// starts of their own.
#pragma once

#include <cstdint>
#include <vector>

namespace morvane {

enum class StartFate : uint8_t {
  Recovered,          // became a file (never recorded)
  InsideAnotherFile,  // its start lay in a file recovered or claimed before (or was taken back by it)
  OffGrid,            // off the cluster grid the scan used
  NoStructure,        // its structure did not hold: no file starts there, or it is too damaged to follow
  ContentCheck,       // followed to its end, but its content did not check out (a picture that does not decode)
  OutsidePhotoDates,  // a photo taken outside the dates asked for, or undated when those were left out
  KindNotSelected,    // followed and claimed, but what it turned out to be was not selected
  CutByRangeEnd,      // its structure runs on past the end of the range searched
  TooShort,           // shorter than its kind's least length (a clip of a few packets)
  TooLarge,           // larger than can be held, or than the medium
  Thumbnail,          // a picture no larger than a thumbnail
  Unreadable,         // a sector of it could not be read
  WriteFailed,        // it could not be written into the output folder
  NoRecogniser,       // its kind has no recogniser
  Count
};

// Machine key of a fate, as reports give it ("insideAnotherFile").
const char* StartFateKey(StartFate fate);

struct UnrecoveredStart {
  int64_t Sector = 0;
  uint8_t Type = 0;  // the candidate's FileTypeId
  StartFate Fate = StartFate::NoStructure;
};

class StartLedger {
 public:
  // The candidate now tried: its start sector and type; nothing said about it yet.
  void Begin(int64_t sector, uint8_t type) {
    sector_ = sector;
    type_ = type;
    fate_ = StartFate::Recovered;
  }
  // A recogniser's word about the start at `sector`: replaces any guess.
  void Note(int64_t sector, StartFate fate) {
    if (sector == sector_) fate_ = fate;
  }
  // The protocol's guess about the start at `sector`: kept only when nothing was said yet.
  void Guess(int64_t sector, StartFate fate) {
    if (sector == sector_ && fate_ == StartFate::Recovered) fate_ = fate;
  }
  StartFate Fate() const { return fate_; }
  // The type of the candidate tried when it starts at `sector`, else 0.
  uint8_t TypeAt(int64_t sector) const { return sector == sector_ ? type_ : 0; }

  // Every file counted as recovered, also those taken back later: a candidate that added
  // one became a file.
  void CountFile() { ++filesCounted_; }
  int64_t FilesCounted() const { return filesCounted_; }

  void Add(int64_t sector, uint8_t type, StartFate fate) { unrecovered_.push_back({sector, type, fate}); }
  const std::vector<UnrecoveredStart>& Unrecovered() const { return unrecovered_; }
  std::vector<UnrecoveredStart> TakeUnrecovered() { return std::move(unrecovered_); }

 private:
  int64_t sector_ = -1;
  uint8_t type_ = 0;
  StartFate fate_ = StartFate::Recovered;
  int64_t filesCounted_ = 0;
  std::vector<UnrecoveredStart> unrecovered_;
};

}  // namespace morvane
