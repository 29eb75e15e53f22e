// The recognition protocol, written once.
//
// Every recogniser creates one Recognition at its start. It refuses a start sector that is
// already claimed, claims each sector it consumes (stepping over sectors that belong to
// other files), and either commits — the claims stay, the cluster tail is claimed, the file
// is finished under its final name — or, on every other way out (an early return, a failed
// check, an exception), rolls every claim back and deletes the partial file in its
// destructor. A recogniser then reads as its format's structure walk:
//
//   int RecoverThing(ScanContext& scan, const std::string& folder, int64_t startOffset) {
//     Recognition rec(scan, startOffset,
//                     folder.empty() ? RecognitionOutput::ClaimOnly()
//                                    : RecognitionOutput::File(RecoveredFileName(folder, startOffset, ".THG")));
//     if (!rec.Started() || !rec.FirstBytes().Matches(0, "THNG")) return 0;
//     int64_t length = rec.FirstBytes().Le32(4);
//     if (!rec.StepOver(length)) return 0;   // runs past the range or cannot be read
//     rec.CutToLength(length);
//     rec.Commit();
//     return 0;
//   }
//
// A recogniser that needs the whole file to decide (a picture to decode, a document's
// directory to read) assembles it in Memory and ends with
//   if (selected) rec.Save(RecoveredFileName(folder, startOffset, ".DOC"));
//   rec.Commit();
//
// Offsets. The output is addressed by its own byte offsets, 0 being the first byte of the
// start sector; Length() is the number of bytes placed so far (whole sectors, until a cut).
// The output holds the file's sectors back to back: claimed sectors that were stepped over
// leave no gap. The same offsets hold in every output kind, so a walk reads the same whether
// it writes a file or only claims.
//
// Output kinds:
//   File      the file is written while it is read, through a 1 MiB buffer, under a
//             temporary name that Commit renames into place; a run of a MiB or more goes
//             from the source into the file directly where the source can copy it (an
//             image file), and is read back from the file where the walk needs it. A file that cannot be created
//             refuses the start; one that cannot be written is asked about (Abort / Retry /
//             Ignore); after Ignore or Abort the file is given up but the walk goes on as in
//             ClaimOnly output — it keeps a window, so it can still read back what it needs
//             (the bytes of the piece that failed to be written stay held) — and its claims
//             are kept when it commits.
//   Memory    the whole file is assembled in memory (Bytes()), read there directly, and saved
//             with Save(). Limited to kMaxInMemoryBytes.
//   ClaimOnly nothing is written; only a window of the most recent bytes is kept. StepOver
//             claims the whole sectors it passes without reading them, and the window drops
//             what lies before the walk's position once that exceeds 60 sectors, so claiming
//             a multi-gigabyte file needs little memory and little reading. The window stays
//             bounded whatever call moves the walk: it always holds at least the last
//             kClaimWindowBytes (1 MiB) before Length() and is cut back to that once it holds
//             twice as much (reads add at most 1 MiB at a time), so a long CopySectorRun
//             never fails for memory either. A walk
//             that must read back further than that uses Memory output. DropHeldBytesBefore
//             compacts at a point of the walk's choosing (a stream walk that is done with
//             every packet behind it).
//   FileOnCommit
//             nothing is written while the walk runs: it runs as in ClaimOnly output (a
//             window; StepOver claims without reading), and Commit copies the claimed sectors
//             (and any zero tail) into the file through the same 1 MiB buffer, with the same
//             Abort / Retry / Ignore question. A candidate that fails writes nothing and takes
//             no output space; a sector that cannot be read while the file is copied fails the
//             recognition as a failed read during the walk would. Bytes placed by Append
//             are held until then.
//   Undecided nothing is created at the start. The recogniser looks at FirstBytes() (and may
//             copy on; the bytes are held as in Memory) and names its output once with
//             ChooseOutput, when the format says it has a file and which kind: a refused
//             candidate creates no file and reserves no buffer. A recognition that commits
//             still Undecided keeps its claims and writes nothing.
//
// Stop and keep. CopySectorRun and StepOver treat a target they cannot reach as the end of
// the recognition. Formats that keep what they have (a picture cut by the end of the range,
// an archive whose tail is missing, a stream that ends where reading fails) use
// CopyAsFarAs / StepOverAsFarAs instead: they copy (or claim) as far as they can and say why
// they stopped (CopyStop); everything placed stays placed and claimed, a sector that could
// not be read is not claimed, and the recogniser decides. ExtendWithZeros then gives such a
// file its declared length, and CutKeepingClaims cuts a file whose trailing sectors must
// stay with it. For example, an archive that states its total length up front:
//
//   Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
//   if (!rec.Started() || !rec.FirstBytes().Matches(0, "ARCV")) return 0;  // nothing created
//   const int64_t total = rec.FirstBytes().Le32(8);
//   if (!rec.ChooseOutput(folder.empty() ? RecognitionOutput::ClaimOnly()
//                                        : RecognitionOutput::File(RecoveredFileName(folder, startOffset, ".ARC"))))
//     return 0;
//   switch (rec.StepOverAsFarAs(total)) {     // ClaimOnly: claimed without being read
//     case CopyStop::Reached: break;
//     case CopyStop::RangeEnd: rec.ExtendWithZeros(total); break;  // the missing tail reads as zeros
//     default: return 0;                      // a read error: give everything back
//   }
//   rec.CutToLength(total);
//   rec.Commit();
//
// Dead ends. A chain walk calls KnownDeadEnd at each record boundary from where its outcome
// depends only on the bytes from there on (not on where the candidate started, apart from
// limits counted from the start, which only make a lower candidate fail sooner):
//   if (rec.KnownDeadEnd("RAR", pos)) return 0;
// It is true when a failed walk of the same family stood there (see scan/dead_ends.h); a
// recognition that ends without Commit leaves the boundaries it stood on as dead ends for
// the lower candidates. A walk that fails for a reason that depends on its start calls
// NoDeadEnds first. Content checks do not matter here: a walk that found its file's end
// commits its claims whatever the check says, or calls NoDeadEnds.
//
// Reads go through ScanContext::ReadSectors. Copies take the unclaimed sectors in a row as
// one run: claimed at once, read in one piece (up to 1 MiB) or, stepped over, only claimed.
// The claim list keeps runs of consecutive sectors, so its size follows the file's
// fragmentation, not its length.
#pragma once

#include <array>
#include <map>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scan/copies_ahead.h"
#include "scan/scan_context.h"
#include "scan/sector_map.h"
#include "storage/bytes.h"
#include "storage/geometry.h"
#include "storage/streams.h"

namespace morvane {

inline constexpr int64_t kOutputBufferBytes = 0x100000;   // file output is written in 1 MiB pieces
inline constexpr int64_t kMaxInMemoryBytes = 0x7FFFFFFF;  // largest file assembled in memory
inline constexpr int64_t kWindowKeepSectors = 60;         // claim-only window: compaction threshold
inline constexpr int64_t kClaimWindowBytes = 0x100000;    // claim-only window: bytes always kept behind Length()
inline constexpr int64_t kDirectCopyBytes = 0x4000000;    // longest run copied from the source into a file at once

struct RecognitionOutput {
  // Undecided: nothing is created yet; the bytes read are held as in Memory until
  // ChooseOutput names the real output (see "Choosing the output after the start").
  enum class Kind { ClaimOnly, Memory, File, Undecided, FileOnCommit };
  Kind kind = Kind::ClaimOnly;
  std::string fileName;  // final name, File only

  static RecognitionOutput File(std::string fileName) { return {Kind::File, std::move(fileName)}; }
  static RecognitionOutput Memory() { return {Kind::Memory, {}}; }
  static RecognitionOutput ClaimOnly() { return {Kind::ClaimOnly, {}}; }
  static RecognitionOutput Undecided() { return {Kind::Undecided, {}}; }
  static RecognitionOutput FileOnCommit(std::string fileName) { return {Kind::FileOnCommit, std::move(fileName)}; }
};

// Why a stop-and-keep copy (CopyAsFarAs, StepOverAsFarAs) ended.
enum class CopyStop {
  Reached,      // Length() >= target
  RangeEnd,     // no unclaimed sector left before the end of the range
  ReadError,    // a sector could not be read
  MemoryLimit,  // the output would grow beyond what may be held in memory
  Inactive,     // the recognition had already failed, committed or never started
};

class Recognition {
 public:
  // Refuses (Started() false, nothing claimed, nothing created) a start offset that is not
  // a sector boundary inside the range, a claimed start sector, a start sector that cannot
  // be read, and a File output that cannot be created. Otherwise the start sector is
  // claimed and is the output's first sector.
  Recognition(ScanContext& scan, int64_t startOffset, RecognitionOutput output);
  ~Recognition();
  Recognition(const Recognition&) = delete;
  Recognition& operator=(const Recognition&) = delete;

  bool Started() const { return started_; }
  // True once a copy has failed (see CopySectorRun).
  bool Failed() const { return failed_; }
  int64_t StartOffset() const { return startOffset_; }
  int64_t StartSector() const { return startOffset_ / sectorSize_; }
  uint32_t SectorSize() const { return sectorSize_; }
  // The start sector's bytes, available for the whole recognition.
  ByteView FirstBytes() const { return ByteView(first_.data(), sectorSize_); }
  // Source byte offset of the next sector to consume.
  int64_t ReadPosition() const { return readPosition_; }
  // Bytes placed in the output so far.
  int64_t Length() const { return bytesBase_ + static_cast<int64_t>(bytes_.size()); }
  RecognitionOutput::Kind OutputKind() const { return kind_; }
  // True while the recognition writes a file (File output that has not failed).
  bool WritesFile() const { return kind_ == RecognitionOutput::Kind::File && !fileFailed_; }
  const TClaimList& Claims() const { return claims_; }

  // The skip rule: moves the read position over claimed sectors (one sector at a time, or
  // by the stride set below) and returns the unclaimed sector reached, or -1 when that lies
  // beyond LastSector.
  int64_t NextUnclaimedSector();
  // When a claimed sector is met, step this many sectors at a time (at least 1).
  void SetClaimedSectorStride(int64_t sectors) { claimedStride_ = sectors < 1 ? 1 : sectors; }

  // Reads further unclaimed sectors into the output until Length() >= target. False when
  // the range ends first, a read fails, or the memory limit is reached (Memory and
  // Undecided output only). A false result of this or of StepOver, Append or
  // ExtendWithZeros fails the recognition for good: every later read, save and commit is
  // refused, and the destructor rolls back.
  bool CopySectorRun(int64_t target);
  bool ReadNextSector() { return CopySectorRun(Length() + 1); }
  // Like CopySectorRun, for a walk that is done with every byte before target. In ClaimOnly
  // output (and in a File output given up) the whole sectors before target are claimed
  // without being read and the window is compacted; the other outputs copy everything.
  bool StepOver(int64_t target);
  // Appends bytes that do not come from the source (no sector is claimed for them).
  bool Append(ByteView bytes);

  // Stop and keep: like CopySectorRun and StepOver, but a copy that cannot reach target
  // does not fail the recognition. It copies (or claims) as far as it can and says why it
  // stopped; what was placed stays placed and claimed, and the recogniser decides whether
  // to commit it (a file cut by the end of the range, a short archive) or to give up.
  // A sector that could not be read is left unclaimed and the read position stays on it.
  // There is no early refusal of a target beyond the range: the copy goes to the range end.
  CopyStop CopyAsFarAs(int64_t target);
  CopyStop StepOverAsFarAs(int64_t target);
  // Extends the output with zero bytes up to length (no sector is claimed for them, and a
  // later cut counts them as such): the never-copied tail of a file that was cut short.
  // No file reaches past the medium's end, so the output stops at what the medium can hold
  // from the start sector on; the zeros and a length the medium cut are reported with the
  // file. A File output is lengthened at once (a hole where the file system allows); a
  // window holds none of them. False (and the recognition fails) only beyond the memory limit.
  bool ExtendWithZeros(int64_t length);
  // Explicit compaction for long claim-only walks: drops the held bytes before offset.
  // Reading back below offset (the start sector aside) is no longer possible afterwards.
  // File output flushes its buffer instead (it reads back from the file); Memory and
  // Undecided output hold the file itself and drop nothing.
  void DropHeldBytesBefore(int64_t offset);

  // Looking ahead before the walk takes any sector beyond the start: reads output bytes
  // [offset, offset + count) from the sectors the walk would take for them (the skip rule
  // from the start on), without taking them. A check of the structures a format addresses
  // from its start can so refuse a candidate at the cost of those structures, not of the
  // bytes between them. Beyond: the range ends first (no walk reaches them); Unknown: a read
  // fails or the walk has moved on — only the walk can tell.
  enum class Peek { Read, Beyond, Unknown };
  Peek PeekAhead(int64_t offset, void* buffer, int64_t count);

  // A walk made ahead of the pass over this file by `walk` (see scan/copies_ahead.h), as far
  // as the copy this File output took over holds it: the place the walk stood and the state it
  // carried there, once the sectors in front of that place's sector are taken — claimed
  // without being read or written, for the copy holds them. The walk then goes on from
  // there as though it had come so far itself. Only while the output is the start sector
  // alone and those sectors follow it, unclaimed; otherwise (and when there is no such
  // walk) nothing is taken, and the walk is the pass's own from the start.
  struct WalkedAhead {
    int64_t At = 0, State = 0;
  };
  std::optional<WalkedAhead> TakeWalkedAhead(WalkedLength walk);

  // Choosing the output after the start: a recognition created with Undecided output
  // creates nothing; it can look at FirstBytes() (and copy on, held in memory) and then
  // name its output once. A File output is created then and the bytes held so far are
  // written to it; when it cannot be created the recognition fails. Refused (false) for a
  // recognition whose output is not Undecided.
  bool ChooseOutput(RecognitionOutput output);

  // Copies output bytes [offset, offset + count) into buffer. False when they are not held
  // (beyond Length(), or dropped from a ClaimOnly window or a failed file); the start
  // sector's bytes are always held.
  bool ReadBack(int64_t offset, void* buffer, size_t count) const;
  // The whole output of a Memory (or still Undecided) recognition; empty for the other kinds.
  ByteView Bytes() const;

  // Cuts the output to its exact length (only ever shortens) and gives back the claimed
  // sectors that lie wholly beyond it — those read only to look at what followed the file.
  // The read position moves back to the first sector given back.
  void CutToLength(int64_t length);
  // Cuts the output like CutToLength but keeps every claimed sector claimed: the sectors
  // read past the file's end stay with it.
  void CutKeepingClaims(int64_t length);

  // Memory output: writes the assembled bytes as fileName (SaveRecoveredFile, with its
  // Abort / Retry / Ignore question) and reports the file. Counts it when asked and it was
  // written. The recognition is not ended by this; Commit or the destructor still decide
  // about the claims.
  bool Save(const std::string& fileName, bool countRecovered = true);
  // A File output is placed under this name at Commit, not under the one it was made under:
  // for a kind that only the whole file tells. An inventory reports it under this name.
  void PlaceAs(std::string fileName);
  // The name the file was written under: the name asked for, or the next free one when a
  // file of that name was already there.
  const std::string& WrittenName() const { return fileName_; }

  // See "Dead ends" above. family names the walk's rules and its state at the boundary
  // (a string that outlives the recognition: a literal); offset is an output offset the
  // walk has read, or the first byte of the next sector it will take.
  bool KnownDeadEnd(std::string_view family, int64_t offset);
  void NoDeadEnds() { noDeadEnds_ = true; }
  // Like KnownDeadEnd for a walk that passes over offset without standing on a boundary
  // there (a search through data): says whether a failed walk stood there, remembers nothing.
  bool PassesDeadEnd(std::string_view family, int64_t offset);

  // Ends the recognition as a success: File output is finished at Length() and renamed
  // into place, reported and (when asked) counted; the claims stay and the cluster tail
  // from the read position is claimed.
  void Commit(bool countRecovered = true);
  // Says why this start does not become a file, when the recogniser knows better than the
  // protocol's guess (see scan/start_ledger.h): a failed content check, a photo outside the
  // dates, a thumbnail, a stream too short to keep.
  void NoteFate(StartFate fate);
  bool WroteFile() const { return wroteFile_; }
  // Says that this file may lie inside a container (a video's frame, an embedded picture):
  // its commit is then recorded in ScanContext::InnerFiles, so that a container whose
  // structure goes on behind it can take its sectors back (see scan/inner_files.h).
  void MayLieInside(InnerKind kind) { innerKind_ = kind; }

 private:
  bool Active() const { return started_ && !failed_ && !committed_; }
  // True while only a window of the output is held: ClaimOnly, and a File given up.
  bool Windowed() const {
    return kind_ == RecognitionOutput::Kind::ClaimOnly || kind_ == RecognitionOutput::Kind::FileOnCommit ||
           (kind_ == RecognitionOutput::Kind::File && fileFailed_);
  }
  int64_t SourceOffsetOf(int64_t offset);
  bool CopyClaimsIntoFile();
  void RecordDeadEnds() noexcept;
  bool Fail(CopyStop why = CopyStop::Reached);
  void Guess(StartFate fate);
  static StartFate FateOfStop(CopyStop stop);
  bool Reachable(int64_t target) const;
  bool FitsInMemory(int64_t target) const;
  CopyStop TakeRun(bool read, int64_t wanted);
  CopyStop ReadRun(int64_t sector, int64_t count);
  bool CopiesDirectly(int64_t wanted);
  CopyStop CopyRunIntoFile(int64_t sector, int64_t count);
  int64_t SectorsShortOf(int64_t target) const;
  bool ClaimRunAndList(int64_t first, int64_t count);
  void AfterGrowth();
  void TrimWindow();
  void DropWindowBefore(int64_t offset);
  void CutHeldBytes(int64_t length);
  bool OpenFile();
  bool TakeCopyAhead();
  bool HeldAhead(int64_t at, int64_t count, bool inOrder);
  bool AskRetry();
  void FlushOutput();
  bool FinishFile();
  void GiveUpFile();
  void Report(const std::string& fileName);
  void RecordInnerFile();
  bool ClaimAndList(int64_t sector);

  ScanContext& scan_;
  const int64_t startOffset_;
  const uint32_t sectorSize_;
  RecognitionOutput::Kind kind_;  // changes once, from Undecided, in ChooseOutput
  std::string fileName_;          // the name asked for, then the free name the file got
  std::string placeAs_;           // the name to place the file under, when not fileName_
  std::unique_ptr<TNewFileStream> file_;
  bool partialExists_ = false;
  bool fileFailed_ = false;
  int64_t ahead_ = 0;                // the file holds the source's bytes [start, start + ahead_) (copied ahead)
  bool fileReachesFurther_ = false;  // the file may be longer than Length() (a copy made ahead)
  WalkedLength walk_ = nullptr;           // the walk made ahead along the copy taken over
  int64_t walkedTo_ = 0, walkState_ = 0;  // where it stood within the copy, and its state

  std::vector<uint8_t> bytes_;  // output bytes [bytesBase_, Length())
  int64_t bytesBase_ = 0;
  std::vector<std::pair<int64_t, int64_t>> foreign_;  // output ranges [first, end) placed by Append
  std::map<int64_t, std::vector<uint8_t>> appended_;  // FileOnCommit: Append's bytes by output offset
  int64_t firstKept_ = 0;       // output bytes [0, firstKept_) are still the start sector
  int64_t inOrder_ = 0;         // output bytes [0, inOrder_) are the source's from the start sector on
  std::array<uint8_t, kMaxSectorSize> first_{};

  int64_t readPosition_;
  int64_t claimedStride_ = 1;
  bool noDirectCopy_ = false;     // a direct copy failed once: the bytes pass through the buffer
  int64_t singleReadsUntil_ = -1;  // sectors before this one are read one at a time (a read failed there)
  TClaimList claims_;
  bool started_ = false;
  bool failed_ = false;
  bool committed_ = false;
  bool wroteFile_ = false;
  int64_t zerosFrom_ = -1;      // output offset where the bytes of ExtendWithZeros begin
  int64_t declaredLength_ = 0;  // the length asked of ExtendWithZeros, when the medium cut it
  std::string inventoryName_;  // an inventory's file output: the name it would have had
  void TakeInventoryName();
  bool counted_ = false;
  uint8_t innerKind_ = 0;

  // The first boundary the walk stood on in each sector: its family and source offset.
  std::vector<std::pair<std::string_view, int64_t>> boundaries_;
  int64_t furthestSector_ = -1;      // the last sector the walk (or a dead end it met) looked at
  bool noDeadEnds_ = false;
  int64_t SourceSectorAhead(int64_t index);
  int64_t peekIndex_ = 0, peekSector_ = -1;  // the output sector PeekAhead last placed, and its source
  CopyStop stop_ = CopyStop::Reached;  // why the last copy stopped short, when one did
};

}  // namespace morvane
