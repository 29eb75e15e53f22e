#include "scan/recognition.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "scan/recovered_file.h"

namespace morvane {

using Kind = RecognitionOutput::Kind;

Recognition::Recognition(ScanContext& scan, int64_t startOffset, RecognitionOutput output)
    : scan_(scan),
      startOffset_(startOffset),
      sectorSize_(scan.SectorSize()),
      kind_(output.kind),
      fileName_(std::move(output.fileName)),
      readPosition_(startOffset) {
  TakeInventoryName();
  if (startOffset < 0 || startOffset % sectorSize_ != 0) return;
  const int64_t sector = startOffset / sectorSize_;
  if (sector > scan.LastSector) return;
  if (scan.SectorMap.IsSectorClaimed(sector)) {
    Guess(StartFate::InsideAnotherFile);
    return;
  }
  if ((kind_ == Kind::File || kind_ == Kind::FileOnCommit) && fileName_.empty()) return;
  try {
    if (!ClaimAndList(sector) || scan.ReadSectors(first_.data(), sectorSize_, startOffset) != 0) {
      RollBackClaims(scan.SectorMap, claims_);
      Guess(StartFate::Unreadable);
      return;
    }
    readPosition_ = startOffset + sectorSize_;
    furthestSector_ = sector;
    if (kind_ == Kind::File && !OpenFile()) {
      RollBackClaims(scan.SectorMap, claims_);
      Guess(StartFate::WriteFailed);
      return;
    }
    bytes_.assign(first_.begin(), first_.begin() + sectorSize_);
    firstKept_ = sectorSize_;
    inOrder_ = sectorSize_;
    started_ = true;
  } catch (const std::bad_alloc&) {
    RollBackClaims(scan.SectorMap, claims_);
    file_.reset();
    if (partialExists_) RemoveFileInProgress(PartialFileName(fileName_));
    partialExists_ = false;
  }
}

Recognition::~Recognition() {
  if (started_ && !committed_) {
    Guess(stop_ != CopyStop::Reached ? FateOfStop(stop_) : fileFailed_ ? StartFate::WriteFailed : StartFate::NoStructure);
    RecordDeadEnds();
    RollBackClaims(scan_.SectorMap, claims_);
  }
  file_.reset();
  if (partialExists_) RemoveFileInProgress(PartialFileName(fileName_));
}

void Recognition::Guess(StartFate fate) { scan_.Starts.Guess(StartSector(), fate); }

void Recognition::NoteFate(StartFate fate) { scan_.Starts.Note(StartSector(), fate); }

// How a walk that stopped this way and did not commit ended, as far as the protocol can tell.
StartFate Recognition::FateOfStop(CopyStop stop) {
  switch (stop) {
    case CopyStop::RangeEnd: return StartFate::CutByRangeEnd;
    case CopyStop::ReadError: return StartFate::Unreadable;
    case CopyStop::MemoryLimit: return StartFate::TooLarge;
    default: return StartFate::NoStructure;
  }
}

// Creates the partial file of a File output; the buffer in front of it is reserved here.
bool Recognition::OpenFile() {
  if (fileName_.empty()) return false;
  if (!TakeCopyAhead()) file_ = CreatePartialFileAsking(scan_, fileName_);
  if (!file_) return false;
  partialExists_ = true;
  bytes_.reserve(static_cast<size_t>(kOutputBufferBytes + kMaxSectorSize));
  return true;
}

// The file copied ahead of the pass from this start, when there is one, becomes the partial
// file: the bytes it holds are not written again (see FlushOutput and CopyRunIntoFile).
bool Recognition::TakeCopyAhead() {
  if (!scan_.Copies) return false;
  CopiesAhead::Copy copy = scan_.Copies->Take(startOffset_);
  if (!copy.File) return false;
  if (!AdoptAsPartialFile(fileName_, copy.Path)) {
    copy.File.reset();
    RemoveFileInProgress(copy.Path);
    return false;
  }
  file_ = std::move(copy.File);
  ahead_ = copy.Bytes;
  walk_ = copy.Walk;
  walkedTo_ = copy.WalkedTo;
  walkState_ = copy.WalkState;
  fileReachesFurther_ = true;
  return true;
}

// True when the file holds output bytes [at, at + count) already: they come from the
// sectors that follow the start sector in order (inOrder), which the copy made ahead holds.
// Otherwise the file is about to be written there, and the copy counts no further.
bool Recognition::HeldAhead(int64_t at, int64_t count, bool inOrder) {
  if (inOrder && at + count <= ahead_) {
    scan_.BytesCopiedAhead += count;
    return true;
  }
  ahead_ = std::min(ahead_, at);
  return false;
}

std::optional<Recognition::WalkedAhead> Recognition::TakeWalkedAhead(WalkedLength walk) {
  const int64_t at = std::exchange(walkedTo_, 0);
  if (walk == nullptr || walk != walk_ || !Active() || !WritesFile() || at <= sectorSize_ || at > ahead_ ||
      Length() != sectorSize_ || inOrder_ != sectorSize_ || readPosition_ != startOffset_ + sectorSize_)
    return std::nullopt;
  // The walk saw the sectors that follow the start sector, up to the one `at` lies in: the
  // walk from here on must see them too. Those before that one are taken now.
  const int64_t first = StartSector() + 1, seen = (at + sectorSize_ - 1) / sectorSize_ - 1, n = at / sectorSize_ - 1;
  if (first + seen - 1 > scan_.LastSector || scan_.SectorMap.UnclaimedRunLength(first, first + seen - 1) != seen)
    return std::nullopt;
  if (n > 0) {
    FlushOutput();  // the start sector, which the copy holds
    if (!WritesFile() || !ClaimRunAndList(first, n)) return std::nullopt;
    bytesBase_ += n * sectorSize_;
    inOrder_ = Length();
    readPosition_ = (first + n) * sectorSize_;
    furthestSector_ = first + n - 1;
    scan_.SectorsWorked += n;
    scan_.BytesCopiedAhead += n * sectorSize_;
    scan_.ShowCopyProgress(StartSector(), first + n - 1);
  }
  return WalkedAhead{at, walkState_};
}

// Listed first, so that a sector is never claimed without the list knowing of it.
bool Recognition::ClaimAndList(int64_t sector) { return ClaimRunAndList(sector, 1); }

int64_t Recognition::NextUnclaimedSector() {
  int64_t sector = readPosition_ / sectorSize_;
  const int64_t last = scan_.LastSector;
  if (claimedStride_ == 1) {
    sector = scan_.SectorMap.NextUnclaimedSector(sector, last);
  } else {
    while (sector <= last && scan_.SectorMap.IsSectorClaimed(sector)) sector += claimedStride_;
    if (sector > last) sector = -1;
  }
  if (sector >= 0) readPosition_ = sector * sectorSize_;
  return sector;
}

// Every sector taken moves the read position on by at least one sector, so a target
// further away than the rest of the range is never reached: failing at once saves reading
// up to the range's end only to fail there.
bool Recognition::Reachable(int64_t target) const {
  return target - Length() <= scan_.RangeEndOffset() - readPosition_;
}

// Only Memory and Undecided outputs hold every byte; the others flush or trim as they go.
bool Recognition::FitsInMemory(int64_t target) const {
  return (kind_ != Kind::Memory && kind_ != Kind::Undecided) || target - bytesBase_ <= kMaxInMemoryBytes;
}

// Listed first, like a single sector.
bool Recognition::ClaimRunAndList(int64_t first, int64_t count) {
  try {
    claims_.AddRun(first, count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  scan_.SectorMap.ClaimSectorRun(first, count);
  return true;
}

// Whole sectors a copy to target still needs (at least one).
int64_t Recognition::SectorsShortOf(int64_t target) const {
  return std::max<int64_t>(1, (target - Length() + sectorSize_ - 1) / sectorSize_);
}

// One step of a copy: the skip rule, then the unclaimed sectors in a row from there, up to
// `wanted`, claimed and read in one piece (or, stepped over unread, only claimed). A read
// takes at most what fills the file's buffer, or one buffer's worth into a window or into
// memory. Reached when sectors were taken; otherwise nothing was taken: sectors that could
// not be read are given back at once, and the read position stays on the first of them. A
// run that fails to be read is taken again sector by sector, so that everything in front of
// the bad sector is placed.
CopyStop Recognition::TakeRun(bool read, int64_t wanted) {
  const int64_t sector = NextUnclaimedSector();
  if (sector < 0) return stop_ = CopyStop::RangeEnd;
  const bool direct = read && sector >= singleReadsUntil_ && CopiesDirectly(wanted);
  if (direct) {
    wanted = std::min(wanted, kDirectCopyBytes / sectorSize_);
  } else if (read) {
    const int64_t room = kOutputBufferBytes - (WritesFile() ? static_cast<int64_t>(bytes_.size()) : 0);
    wanted = sector < singleReadsUntil_ ? 1 : std::min(wanted, std::max<int64_t>(1, room / sectorSize_));
  }
  const int64_t n = scan_.SectorMap.UnclaimedRunLength(sector, std::min(scan_.LastSector, sector + wanted - 1));
  if (!ClaimRunAndList(sector, n)) {
    noDeadEnds_ = true;
    return stop_ = CopyStop::MemoryLimit;
  }
  furthestSector_ = std::max(furthestSector_, sector);
  const bool inOrder = Length() == inOrder_ && sector * sectorSize_ == startOffset_ + Length();
  if (read) {
    const CopyStop stop = direct ? CopyRunIntoFile(sector, n) : ReadRun(sector, n);
    if (stop != CopyStop::Reached) {
      for (int64_t i = 0; i < n; ++i) claims_.PopBack();
      scan_.SectorMap.ReleaseSectorRun(sector, n);
      if (direct) {  // read and written here instead
        noDirectCopy_ = true;
        return TakeRun(true, wanted);
      }
      if (stop != CopyStop::ReadError || n == 1) return stop_ = stop;
      singleReadsUntil_ = sector + n;
      return TakeRun(true, 1);
    }
  } else {
    scan_.SectorsWorked += n;
    bytesBase_ = Length() + n * sectorSize_;
    bytes_.clear();
  }
  if (inOrder) inOrder_ = Length();
  furthestSector_ = std::max(furthestSector_, sector + n - 1);
  readPosition_ = (sector + n) * sectorSize_;
  scan_.ShowCopyProgress(StartSector(), sector + n - 1);
  AfterGrowth();
  return CopyStop::Reached;
}

// True when a copy of `wanted` sectors into the file goes from the source into the file
// directly: a long one, while the file is written and the source can. The bytes buffered so
// far are written first.
bool Recognition::CopiesDirectly(int64_t wanted) {
  if (noDirectCopy_ || !WritesFile() || wanted * sectorSize_ < kOutputBufferBytes) return false;
  FlushOutput();
  return WritesFile();
}

// Copies count sectors from sector on straight from the source into the file (the buffer is
// empty); the file then reads them back where a walk needs them.
CopyStop Recognition::CopyRunIntoFile(int64_t sector, int64_t count) {
  const int64_t bytes = count * sectorSize_;
  if (!HeldAhead(Length(), bytes, sector * sectorSize_ == startOffset_ + Length()) &&
      !scan_.SourceHandle().CopyInto(sector * sectorSize_, bytes, file_->FileHandle(), Length()))
    return CopyStop::ReadError;
  scan_.BytesRead += bytes;
  scan_.SectorsWorked += count;
  bytesBase_ += bytes;
  return CopyStop::Reached;
}

// Appends count sectors from sector on to the held bytes, read in one piece.
CopyStop Recognition::ReadRun(int64_t sector, int64_t count) {
  const size_t old = bytes_.size();
  try {
    bytes_.resize(old + static_cast<size_t>(count * sectorSize_));
  } catch (const std::bad_alloc&) {
    noDeadEnds_ = true;
    return CopyStop::MemoryLimit;
  }
  if (scan_.ReadSectors(bytes_.data() + old, count * sectorSize_, sector * sectorSize_) == 0) return CopyStop::Reached;
  bytes_.resize(old);
  return CopyStop::ReadError;
}

// After the output grew: a file writes its full buffer; a window drops its oldest bytes.
void Recognition::AfterGrowth() {
  if (WritesFile()) {
    if (static_cast<int64_t>(bytes_.size()) >= kOutputBufferBytes) FlushOutput();
  } else if (Windowed()) {
    TrimWindow();
  }
}

// A window keeps at least the last kClaimWindowBytes of the output; it is cut back to that
// once it holds twice as much, so it never grows beyond 2 MiB plus one read (1 MiB), whatever call
// moves the walk.
void Recognition::TrimWindow() {
  const auto held = static_cast<int64_t>(bytes_.size());
  if (held <= 2 * kClaimWindowBytes) return;
  const int64_t drop = held - kClaimWindowBytes;
  bytes_.erase(bytes_.begin(), bytes_.begin() + drop);
  bytesBase_ += drop;
}

bool Recognition::Fail(CopyStop why) {
  if (why != CopyStop::Reached) stop_ = why;
  failed_ = true;
  return false;
}

Recognition::Peek Recognition::PeekAhead(int64_t offset, void* buffer, int64_t count) {
  if (!Active() || Length() != sectorSize_ || claimedStride_ != 1 || offset < 0 || count <= 0 ||
      offset > kMaxInMemoryBytes || count > kMaxInMemoryBytes)
    return Peek::Unknown;
  auto* out = static_cast<uint8_t*>(buffer);
  std::array<uint8_t, kMaxSectorSize> sector{};
  for (int64_t at = offset; at < offset + count;) {
    const int64_t index = at / sectorSize_, within = at % sectorSize_;
    const int64_t n = std::min<int64_t>(sectorSize_ - within, offset + count - at);
    if (index == 0) {
      std::memcpy(out + (at - offset), first_.data() + within, static_cast<size_t>(n));
    } else {
      const int64_t source = SourceSectorAhead(index);
      if (source < 0) return Peek::Beyond;
      if (scan_.ReadSectors(sector.data(), sectorSize_, source * sectorSize_) != 0) return Peek::Unknown;
      std::memcpy(out + (at - offset), sector.data() + within, static_cast<size_t>(n));
    }
    at += n;
  }
  return Peek::Read;
}

// The sector the walk would take as output sector `index` (the skip rule from the start on),
// or -1 when the range ends first. Counts on from the last sector asked for when it can.
int64_t Recognition::SourceSectorAhead(int64_t index) {
  if (index < peekIndex_ || peekIndex_ == 0) {
    peekIndex_ = 0;
    peekSector_ = StartSector();
  }
  const auto found = scan_.SectorMap.CountUnclaimed(peekSector_ + 1, scan_.LastSector, index - peekIndex_);
  if (found.Count < index - peekIndex_) return -1;
  if (found.Count > 0) {
    peekIndex_ = index;
    peekSector_ = found.LastSector;
  }
  return peekSector_;
}

bool Recognition::CopySectorRun(int64_t target) {
  if (!Active()) return false;
  if (target <= Length()) return true;
  if (!Reachable(target)) return Fail(CopyStop::RangeEnd);
  if (!FitsInMemory(target)) return Fail(CopyStop::MemoryLimit);
  while (Length() < target)
    if (TakeRun(true, SectorsShortOf(target)) != CopyStop::Reached) return Fail();
  return true;
}

bool Recognition::StepOver(int64_t target) {
  if (!Windowed()) return CopySectorRun(target);
  if (!Active()) return false;
  if (target > Length()) {
    if (!Reachable(target)) return Fail(CopyStop::RangeEnd);
    while (target - Length() >= sectorSize_)
      if (TakeRun(false, (target - Length()) / sectorSize_) != CopyStop::Reached) return Fail();
    if (!CopySectorRun(target)) return false;
  }
  DropWindowBefore(target);
  return true;
}

CopyStop Recognition::CopyAsFarAs(int64_t target) {
  if (!Active()) return CopyStop::Inactive;
  while (Length() < target) {
    if (!FitsInMemory(Length() + sectorSize_)) return CopyStop::MemoryLimit;
    const int64_t wanted = SectorsShortOf(target);
    const CopyStop stop = TakeRun(true, FitsInMemory(Length() + wanted * sectorSize_) ? wanted : 1);
    if (stop != CopyStop::Reached) return stop;
  }
  return CopyStop::Reached;
}

CopyStop Recognition::StepOverAsFarAs(int64_t target) {
  if (!Windowed()) return CopyAsFarAs(target);
  if (!Active()) return CopyStop::Inactive;
  CopyStop stop = CopyStop::Reached;
  while (stop == CopyStop::Reached && target - Length() >= sectorSize_)
    stop = TakeRun(false, (target - Length()) / sectorSize_);
  if (stop == CopyStop::Reached) stop = CopyAsFarAs(target);
  DropWindowBefore(std::min(target, Length()));
  return stop;
}

void Recognition::DropWindowBefore(int64_t offset) {
  const int64_t behind = offset - bytesBase_;
  if (behind <= kWindowKeepSectors * sectorSize_) return;
  const int64_t drop = behind / sectorSize_ * sectorSize_;
  bytes_.erase(bytes_.begin(), bytes_.begin() + drop);
  bytesBase_ += drop;
  scan_.ShowCopyProgress(StartSector(), readPosition_ / sectorSize_);
}

void Recognition::DropHeldBytesBefore(int64_t offset) {
  if (!Active()) return;
  if (WritesFile()) return FlushOutput();
  if (!Windowed()) return;  // Memory and Undecided hold the output itself
  const int64_t drop = std::min(offset, Length()) - bytesBase_;
  if (drop <= 0) return;
  bytes_.erase(bytes_.begin(), bytes_.begin() + drop);
  bytesBase_ += drop;
}

bool Recognition::ExtendWithZeros(int64_t length) {
  if (!Active()) return false;
  const int64_t room = scan_.MediumEndOffset() - startOffset_;
  if (length > room) {
    declaredLength_ = length;
    length = room;
  }
  if (length <= Length()) return true;
  if (zerosFrom_ < 0) zerosFrom_ = Length();
  if (!FitsInMemory(length)) return Fail(CopyStop::MemoryLimit);
  const int64_t from = Length();
  try {
    foreign_.emplace_back(from, length);
    if (WritesFile()) {
      // The file is lengthened at once; the new part reads back as zeros (and takes no
      // disk space where the file system keeps holes).
      FlushOutput();
      while (!fileFailed_) {
        try {
          if (fileReachesFurther_) file_->SetSize(from);  // the copy made ahead is no zeros
          ahead_ = std::min(ahead_, from);
          file_->SetSize(length);
          break;
        } catch (const std::system_error&) {
          if (!AskRetry()) GiveUpFile();
        }
      }
    }
    if (kind_ == Kind::Memory || kind_ == Kind::Undecided) {
      bytes_.resize(static_cast<size_t>(length - bytesBase_), 0);
    } else {  // written (or, in a window, not worth holding): nothing is held from here
      bytes_.clear();
      bytesBase_ = length;
    }
  } catch (const std::bad_alloc&) {
    return Fail(CopyStop::MemoryLimit);
  }
  return true;
}

bool Recognition::ChooseOutput(RecognitionOutput output) {
  if (!Active() || kind_ != Kind::Undecided || output.kind == Kind::Undecided) return false;
  kind_ = output.kind;
  fileName_ = std::move(output.fileName);
  TakeInventoryName();
  try {
    if (kind_ == Kind::File && !OpenFile()) {
      fileFailed_ = true;
      return Fail();
    }
  } catch (const std::bad_alloc&) {
    return Fail(CopyStop::MemoryLimit);
  }
  AfterGrowth();
  return true;
}

bool Recognition::Append(ByteView bytes) {
  if (!Active()) return false;
  if (!FitsInMemory(Length() + static_cast<int64_t>(bytes.size()))) return Fail(CopyStop::MemoryLimit);
  const int64_t at = Length();
  try {
    if (bytes.size() > 0) foreign_.emplace_back(at, at + static_cast<int64_t>(bytes.size()));
    if (kind_ == Kind::FileOnCommit && bytes.size() > 0)
      appended_.emplace(at, std::vector<uint8_t>(bytes.data(), bytes.data() + bytes.size()));
    bytes_.insert(bytes_.end(), bytes.data(), bytes.data() + bytes.size());
  } catch (const std::bad_alloc&) {
    return Fail();
  }
  AfterGrowth();
  return true;
}

bool Recognition::ReadBack(int64_t offset, void* buffer, size_t count) const {
  if (offset < 0 || static_cast<int64_t>(count) > Length() - offset) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t end = offset + static_cast<int64_t>(count);
  if (end > bytesBase_) {  // the part still held in memory
    const int64_t from = std::max(offset, bytesBase_);
    std::memcpy(out + (from - offset), bytes_.data() + (from - bytesBase_), static_cast<size_t>(end - from));
    end = from;
  }
  if (end <= offset) return true;
  const auto n = static_cast<size_t>(end - offset);
  if (file_ && !fileFailed_)
    return file_->Seek(offset, soBeginning) == offset && file_->Read(out, static_cast<int64_t>(n)) == static_cast<int64_t>(n);
  if (end <= firstKept_) {
    std::memcpy(out, first_.data() + offset, n);
    return true;
  }
  return false;
}

ByteView Recognition::Bytes() const {
  if (kind_ != Kind::Memory && kind_ != Kind::Undecided) return {};
  return ByteView(bytes_.data(), bytes_.size());
}

void Recognition::CutHeldBytes(int64_t length) {
  length = std::max<int64_t>(length, 0);
  if (length >= Length()) return;
  if (length >= bytesBase_) {
    bytes_.resize(static_cast<size_t>(length - bytesBase_));
  } else {
    bytes_.clear();
    bytesBase_ = length;
  }
  firstKept_ = std::min(firstKept_, length);
  inOrder_ = std::min(inOrder_, length);
}

void Recognition::CutKeepingClaims(int64_t length) {
  if (Active()) CutHeldBytes(length);
}

void Recognition::CutToLength(int64_t length) {
  if (!Active()) return;
  CutHeldBytes(length);
  // Appended bytes cut away no longer stand for sectors; those that remain never did.
  int64_t foreignBytes = 0;
  for (auto& [first, end] : foreign_) {
    end = std::min(end, Length());
    if (end > first) foreignBytes += end - first;
  }
  const int64_t sourceBytes = std::max<int64_t>(Length() - foreignBytes, 0);
  const int64_t keep = (sourceBytes + sectorSize_ - 1) / sectorSize_;
  while (claims_.SectorCount() > keep) {
    const int64_t sector = claims_.PopBack();
    scan_.SectorMap.ReleaseSector(sector);
    readPosition_ = sector * sectorSize_;
  }
}

bool Recognition::AskRetry() { return AskRetryAfterSaveFailure(scan_, fileName_); }

// The file is given up: its partial copy is deleted, and what is read from now on is
// dropped once it leaves the buffer.
void Recognition::GiveUpFile() {
  fileFailed_ = true;
  ahead_ = 0;
  file_.reset();
  if (partialExists_) RemoveFileInProgress(PartialFileName(fileName_));
  partialExists_ = false;
}

// Writes the buffered bytes at their place in the file and empties the buffer. When the
// file is given up instead, the buffer stays as the walk's window (as in ClaimOnly output),
// so the walk can still read back the header it was about to look at and go on.
void Recognition::FlushOutput() {
  const auto n = static_cast<int64_t>(bytes_.size());
  if (!fileFailed_ && n > 0 && HeldAhead(bytesBase_, n, bytesBase_ + n <= inOrder_)) {
    bytesBase_ += n;
    bytes_.clear();
    return;
  }
  while (!fileFailed_ && n > 0) {
    if (file_->Seek(bytesBase_, soBeginning) == bytesBase_ && file_->Write(bytes_.data(), n) == n) {
      bytesBase_ += n;
      bytes_.clear();
      return;
    }
    if (!AskRetry()) GiveUpFile();
  }
  TrimWindow();
}

bool Recognition::FinishFile() {
  FlushOutput();
  while (!fileFailed_) {
    try {
      file_->SetSize(Length());
      break;
    } catch (const std::system_error&) {
      if (!AskRetry()) GiveUpFile();
    }
  }
  if (fileFailed_) return false;
  file_.reset();
  const std::string partial = PartialFileName(fileName_);
  std::string name = placeAs_.empty() ? fileName_ : placeAs_;
  while (!PlaceRecoveredFile(name, partial)) {
    if (!AskRetry()) {
      GiveUpFile();
      return false;
    }
  }
  fileName_ = name;
  partialExists_ = false;
  return true;
}

void Recognition::Report(const std::string& fileName) {
  RecoveredFileInfo info;
  info.Name = fileName;
  info.Extension = FileExtension(fileName);
  info.FirstSector = StartSector();
  info.Length = Length();
  info.Runs = claims_.Runs();
  info.ZeroFilled = zerosFrom_ >= 0 ? std::max<int64_t>(Length() - zerosFrom_, 0) : 0;
  info.DeclaredLength = declaredLength_;
  scan_.Observer().OnFileRecovered(info);
}

// An inventory writes nothing: a file output only claims, and the file is reported under
// the name it would have had when the recognition commits.
void Recognition::TakeInventoryName() {
  if (!scan_.Options.InventoryOnly || (kind_ != Kind::File && kind_ != Kind::FileOnCommit)) return;
  inventoryName_ = std::move(fileName_);
  fileName_.clear();
  kind_ = Kind::ClaimOnly;
}

void Recognition::PlaceAs(std::string fileName) {
  (inventoryName_.empty() ? placeAs_ : inventoryName_) = std::move(fileName);
}

bool Recognition::Save(const std::string& fileName, bool countRecovered) {
  if (!Active() || kind_ != Kind::Memory) return false;
  if (scan_.Options.InventoryOnly) {
    Report(fileName);
    if (countRecovered) scan_.CountRecoveredFile();
    counted_ = countRecovered;
    return true;
  }
  std::string written;
  if (!SaveRecoveredFile(scan_, Bytes(), fileName, &written)) return false;
  wroteFile_ = true;
  fileName_ = written;
  Report(written);
  if (countRecovered) scan_.CountRecoveredFile();
  counted_ = countRecovered;
  return true;
}

void Recognition::Commit(bool countRecovered) {
  if (!Active()) return;
  if (kind_ == Kind::FileOnCommit && !CopyClaimsIntoFile()) return;
  if (kind_ == Kind::File && FinishFile()) {
    wroteFile_ = true;
    Report(fileName_);
    if (countRecovered) scan_.CountRecoveredFile();
    counted_ = counted_ || countRecovered;
  } else if (!inventoryName_.empty()) {
    Report(inventoryName_);
    if (countRecovered) scan_.CountRecoveredFile();
    counted_ = counted_ || countRecovered;
  }
  committed_ = true;
  // Followed to its end and kept from other files, but not counted as one: the recogniser
  // chose not to write it (its kind, or what it said in NoteFate), or writing it failed.
  if (!counted_) Guess(fileFailed_ ? StartFate::WriteFailed : StartFate::KindNotSelected);
  if (innerKind_ != 0) RecordInnerFile();
  const int64_t first = claims_.Empty() ? StartSector() : claims_.Runs().front().First;
  int64_t last = claims_.Empty() ? StartSector() : claims_.Runs().back().First + claims_.Runs().back().Count - 1;
  claims_.Clear();
  last = std::max(last, scan_.ClaimClusterTail(readPosition_ / sectorSize_) - 1);
  scan_.DeadEnds.ForgetWalksOver(first, last, sectorSize_);
}

// FileOnCommit: the walk has shown a file; its sectors are read again, in the order they
// were taken, and written through the buffer of a File output (zero extents as holes).
// False when a sector cannot be read: the recognition has then failed.
bool Recognition::CopyClaimsIntoFile() {
  const int64_t length = Length();
  kind_ = Kind::File;
  bytes_.clear();
  bytesBase_ = 0;
  try {
    if (!OpenFile()) GiveUpFile();  // the question was asked; the claims stay
    std::vector<std::pair<int64_t, int64_t>> zeros = foreign_;
    std::sort(zeros.begin(), zeros.end());
    auto zero = zeros.begin();
    auto skipZeros = [&] {
      for (; zero != zeros.end() && zero->first <= Length(); ++zero) {
        if (zero->second <= Length()) continue;
        if (const auto kept = appended_.find(zero->first); kept != appended_.end()) {  // Append's bytes
          const int64_t from = Length() - zero->first, to = std::min(zero->second, length) - zero->first;
          bytes_.insert(bytes_.end(), kept->second.begin() + from, kept->second.begin() + std::max(from, to));
          if (static_cast<int64_t>(bytes_.size()) >= kOutputBufferBytes) FlushOutput();
          continue;
        }
        FlushOutput();
        bytes_.clear();
        bytesBase_ = std::min(zero->second, length);
      }
    };
    for (const SectorRun& run : claims_.Runs()) {
      for (int64_t s = run.First; s < run.First + run.Count;) {
        skipZeros();
        if (fileFailed_ || Length() >= length) break;
        // The sectors that hold the bytes up to the next zero extent (or the end), as many
        // of this run's as the buffer takes; the start sector is held already.
        int64_t want = length - Length();
        if (zero != zeros.end()) want = std::min(want, zero->first - Length());
        const int64_t whole = std::min(want / sectorSize_, run.First + run.Count - s);
        if (s != StartSector() && CopiesDirectly(whole)) {
          const int64_t k = std::min(whole, kDirectCopyBytes / sectorSize_);
          if (CopyRunIntoFile(s, k) == CopyStop::Reached) {
            s += k;
            scan_.ShowCopyProgress(StartSector(), s - 1);
            continue;
          }
          noDirectCopy_ = true;
        }
        const int64_t room = std::max<int64_t>(1, (kOutputBufferBytes - static_cast<int64_t>(bytes_.size())) / sectorSize_);
        const int64_t n = s == StartSector() ? 1 : std::min({(want + sectorSize_ - 1) / sectorSize_, run.First + run.Count - s, room});
        const size_t old = bytes_.size();
        bytes_.resize(old + static_cast<size_t>(n * sectorSize_));
        if (s == StartSector()) {
          std::copy_n(first_.begin(), sectorSize_, bytes_.begin() + static_cast<std::ptrdiff_t>(old));
        } else if (scan_.ReadSectors(bytes_.data() + old, n * sectorSize_, s * sectorSize_) != 0) {
          GiveUpFile();
          noDeadEnds_ = true;
          return Fail(CopyStop::ReadError);
        }
        bytes_.resize(old + static_cast<size_t>(std::min(n * sectorSize_, want)));
        s += n;
        scan_.ShowCopyProgress(StartSector(), s - 1);
        if (static_cast<int64_t>(bytes_.size()) >= kOutputBufferBytes) FlushOutput();
      }
    }
    skipZeros();
    if (Length() < length) {  // a zero tail, or a file given up
      FlushOutput();
      bytes_.clear();
      bytesBase_ = length;
    }
  } catch (const std::bad_alloc&) {
    GiveUpFile();
    noDeadEnds_ = true;
    return Fail(CopyStop::MemoryLimit);
  }
  return true;
}

// Maps an output offset to the source: the claimed sectors hold the output back to back.
// -1 when it cannot be told (bytes placed by Append or ExtendWithZeros, or further ahead
// than the next sector to take).
int64_t Recognition::SourceOffsetOf(int64_t offset) {
  if (offset < 0 || !foreign_.empty()) return -1;
  const int64_t taken = claims_.SectorCount();
  const int64_t index = offset / sectorSize_, within = offset % sectorSize_;
  if (index > taken) return -1;
  if (index == taken) {
    const int64_t sector = NextUnclaimedSector();
    return sector < 0 ? -1 : sector * sectorSize_ + within;
  }
  int64_t before = taken;
  for (auto run = claims_.Runs().rbegin(); run != claims_.Runs().rend(); ++run) {
    before -= run->Count;
    if (index >= before) return (run->First + (index - before)) * sectorSize_ + within;
  }
  return -1;
}

bool Recognition::KnownDeadEnd(std::string_view family, int64_t offset) {
  if (!Active()) return false;
  const int64_t at = SourceOffsetOf(offset);
  if (at < 0) return false;
  // This walk then fails as that one did, having looked as far as it did.
  if (PassesDeadEnd(family, offset)) return true;
  if (boundaries_.empty() || boundaries_.back().second / sectorSize_ != at / sectorSize_) {
    try {
      boundaries_.emplace_back(family, at);
    } catch (const std::bad_alloc&) {
      noDeadEnds_ = true;
    }
  }
  return false;
}

bool Recognition::PassesDeadEnd(std::string_view family, int64_t offset) {
  if (!Active()) return false;
  const int64_t at = SourceOffsetOf(offset);
  const int64_t last = at < 0 ? -1 : scan_.DeadEnds.LastSectorOf(family, at);
  furthestSector_ = std::max(furthestSector_, last);
  return last >= 0;
}

void Recognition::RecordDeadEnds() noexcept {
  if (noDeadEnds_ || boundaries_.empty()) return;
  try {
    for (const auto& [family, at] : boundaries_) scan_.DeadEnds.Record(family, at, furthestSector_);
  } catch (const std::bad_alloc&) {
  }
}

// Records the committed file with every sector it keeps: its claims and the unclaimed
// sectors of its cluster tail, which Commit claims next.
void Recognition::RecordInnerFile() {
  InnerFile file;
  file.FirstSector = StartSector();
  file.Kind = innerKind_;
  file.Name = wroteFile_ ? fileName_ : std::string();
  file.Length = Length();
  file.Counted = counted_;
  file.StartType = scan_.Starts.TypeAt(StartSector());
  try {
    TClaimList kept = claims_;
    const int64_t tail = readPosition_ / sectorSize_;
    for (int64_t s = tail; s < scan_.ClusterTailEnd(tail); ++s)
      if (!scan_.SectorMap.IsSectorClaimed(s)) kept.Add(s);
    file.Runs = kept.Runs();
    scan_.InnerFiles.Add(std::move(file));
  } catch (const std::bad_alloc&) {
    // Not recorded: the file stays as it is, only it cannot be taken back.
  }
}

}  // namespace morvane
