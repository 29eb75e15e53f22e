#include "scan/scan_driver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

#include "filetypes/catalogue.h"
#include "scan/bad_areas.h"
#include "scan/checks_ahead.h"
#include "scan/classifier.h"
#include "scan/file_type_id.h"
#include "scan/free_space_map.h"
#include "scan/recovered_file.h"
#include "scan/scan_state.h"
#include "scan/search_reader.h"
#include "storage/bytes.h"
#include "storage/files.h"
#include "storage/streams.h"

namespace morvane {
namespace {

// Candidates of kinds walked ahead that the search keeps this close together are taken as one
// run (the packets of one stream).
constexpr int64_t kWalkedRunGapBytes = 0x10000;

bool IsStreamPacket(uint8_t t) {
  return t == ftMpeg2PackClockZero || t == ftMpeg2PackEarly || t == ftMpeg1Pack || t == ftTs192 || t == ftTs188 ||
         t == ftTs192Headers;
}

// The kind whose "Found" count a start type adds to; 0 for types that never count.
uint32_t FoundMask(uint8_t t) {
  switch (t) {
    case ftJpegApp:
    case ftJpegOther: return kTypeJpg;
    case ftBmp: return kTypeBmp;
    case ftPng: return kTypePng;
    case ftHeic: return kTypeHeic;
    case ftAvif: return kTypeAvif;
    case ftRiffWebp: return kTypeWebp;
    case ftTiffRaw:
    case ftX3f:
    case ftRaf:
    case ftCr3: return kTypeRaw;
    case ftMatroska:
    case ftWebm: return kTypeMkv;
    case ftOpenDocument: return kTypeOdf;
    case ftOle:
    case ftOfficeZip: return kOfficeTypesMask;
    case ftPdf: return kTypeAi;
    case ftRiffCdr:
    case ftZipCdr: return kTypeCdr;
    case ftRiffAvi: return kTypeAvi;
    case ftAsfFileProperties:
    case ftAsfOther: return kTypeAsf | kTypeWmv;  // the streams decide which
    case ftRiffCdxa: return kTypeDat;
    case ftMp4: return kTypeMp4;
    case ft3gp: return kType3gp;
    case ftMov:
    case ftClassicMov: return kTypeMov;
    case ftRiffWave: return kTypeWav;
    case ftMpeg2PackClockZero: return kTypeVob;
    case ftMpeg1PackClockZero: return kTypeMpg;
    case ftTs192First: return kTypeMts;
    case ftRar:
    case ftRar5: return kTypeRar;
    case ftZip: return kTypeZip;
    case ftCab: return kTypeCab;
    case ft7z: return kType7z;
    default: return 0;
  }
}

// The kind a stream-pass packet belongs to.
uint32_t StreamMask(uint8_t t) {
  switch (t) {
    case ftMpeg1Pack: return kTypeMpg;
    case ftTs192:
    case ftTs192Headers: return kTypeMts;
    case ftTs188: return kTypeTs;
    case ftMpeg2PackClockZero:
    case ftMpeg2PackEarly: return kTypeVob;
    default: return 0;
  }
}

// The two work files that keep stream packets out of memory: 8-byte sector numbers and
// 1-byte types, record i of one belonging to record i of the other. Written and read
// through buffers, removed when the scan ends.
class WorkFiles {
 public:
  // Both files are created new: a name that is taken (a user's file, a planted link, a
  // leftover) is passed over for the next free pair, FILESTAR_1.TMP and FILETYPE_1.TMP, ...
  bool Create(const std::string& folder) {
    for (int n = 0; n < kMaxWorkFileNames; ++n) {
      startsName_ = NumberedFileName(folder + kStreamStartsFile, n);
      typesName_ = NumberedFileName(folder + kStreamTypesFile, n);
      starts_ = CreateFileInProgress(startsName_);
      if (!starts_ && errno != EEXIST && errno != ELOOP) break;
      types_ = starts_ ? CreateFileInProgress(typesName_) : nullptr;
      if (starts_ && types_) return true;
      const int error = errno;
      Remove();
      if (error != EEXIST && error != ELOOP) break;
    }
    Remove();
    return false;
  }
  // Takes up the files of a scan that is being continued, holding `count` records. They stay
  // off the list of files in progress: they outlive an abrupt end, for the next run.
  bool Adopt(const std::string& folder, const std::string& starts, const std::string& types, int64_t count) {
    kept_ = true;
    startsName_ = folder + starts;
    typesName_ = folder + types;
    starts_ = std::make_unique<TNewFileStream>(startsName_, fmOpenReadWrite);
    types_ = std::make_unique<TNewFileStream>(typesName_, fmOpenReadWrite);
    if (starts_->FileHandle() == -1 || types_->FileHandle() == -1 || starts_->Size() < count * 8 ||
        types_->Size() < count) {
      Leave();
      return false;
    }
    count_ = written_ = count;
    return true;
  }
  // Files that a later run may continue with: kept at an abrupt end.
  void KeepAcrossRuns() {
    kept_ = true;
    ForgetFileInProgress(startsName_);
    ForgetFileInProgress(typesName_);
  }
  // Writes what is buffered through to the drive, so that a saved state may count on it.
  // Once reading has begun, everything is written and the buffers hold what was read.
  bool Sync() {
    if (next_ > 0) return true;
    return Flush() && SyncFile(starts_->FileHandle()) && SyncFile(types_->FileHandle());
  }
  // Closes the files and leaves them in place.
  void Leave() {
    starts_.reset();
    types_.reset();
    startsName_.clear();
    typesName_.clear();
  }
  // The file names within `folder`.
  std::string StartsName(const std::string& folder) const { return startsName_.substr(std::min(folder.size(), startsName_.size())); }
  std::string TypesName(const std::string& folder) const { return typesName_.substr(std::min(folder.size(), typesName_.size())); }
  bool InUse() const { return starts_ != nullptr; }
  int64_t Count() const { return count_; }
  // The name of the file a failure (errno) is about.
  const std::string& Name() const { return startsName_; }
  bool Full() const { return typeBuf_.size() >= kFlushRecords; }

  void Append(int64_t sector, uint8_t type) {
    uint8_t rec[8];
    for (int i = 0; i < 8; ++i) rec[i] = static_cast<uint8_t>(static_cast<uint64_t>(sector) >> (8 * i));
    startBuf_.insert(startBuf_.end(), rec, rec + 8);
    typeBuf_.push_back(type);
    ++count_;
  }

  // Writes the buffered records behind those written before; false (with errno) when the
  // disk refuses them. They stay buffered then, so a second try writes them at their place.
  bool Flush() {
    const auto n = static_cast<int64_t>(typeBuf_.size());
    if (n == 0) return true;
    if (starts_->Seek(written_ * 8, soBeginning) != written_ * 8 || starts_->Write(startBuf_.data(), n * 8) != n * 8 ||
        types_->Seek(written_, soBeginning) != written_ || types_->Write(typeBuf_.data(), n) != n)
      return false;
    written_ += n;
    startBuf_.clear();
    typeBuf_.clear();
    return true;
  }

  // Reads record i (in order, from the start, once every record is flushed); false at the
  // end or on a read failure (Failed() tells which).
  bool Next(int64_t& sector, uint8_t& type) {
    if (next_ == 0) {
      starts_->SetPosition(0);
      types_->SetPosition(0);
    }
    if (next_ >= count_) return false;
    if (readPos_ == readLen_) {
      int64_t n = std::min<int64_t>(kFlushRecords, count_ - next_);
      startBuf_.resize(static_cast<size_t>(n * 8));
      typeBuf_.resize(static_cast<size_t>(n));
      errno = 0;
      if (starts_->Read(startBuf_.data(), n * 8) != n * 8 || types_->Read(typeBuf_.data(), n) != n) {
        if (errno == 0) errno = EIO;  // a short read: the file is not what was written
        readFailed_ = true;
        return false;
      }
      readPos_ = 0;
      readLen_ = n;
    }
    sector = static_cast<int64_t>(ByteView(startBuf_.data(), startBuf_.size()).Le64(readPos_ * 8));
    type = typeBuf_[static_cast<size_t>(readPos_)];
    ++readPos_;
    ++next_;
    return true;
  }
  int64_t Position() const { return next_; }

  void Remove() {
    // Only files this scan created are listed, so nobody else's file is ever removed.
    starts_.reset();
    types_.reset();
    if (kept_ && !startsName_.empty()) {
      RemoveFile(startsName_);
      RemoveFile(typesName_);
    } else if (!kept_) {
      RemoveFileInProgress(startsName_);
      RemoveFileInProgress(typesName_);
    }
    startsName_.clear();
    typesName_.clear();
  }
  ~WorkFiles() { Remove(); }
  bool ReadFailed() const { return readFailed_; }

 private:
  static constexpr size_t kFlushRecords = 8192;
  static constexpr int kMaxWorkFileNames = 100;
  std::string startsName_, typesName_;
  std::unique_ptr<TNewFileStream> starts_, types_;
  std::vector<uint8_t> startBuf_, typeBuf_;
  int64_t count_ = 0, written_ = 0, next_ = 0, readPos_ = 0, readLen_ = 0;
  bool readFailed_ = false;
  bool kept_ = false;
};

using Candidate = ScanCandidate;

class Driver {
 public:
  Driver(ScanContext& scan, const TSourceGeometry& detected, const RecogniserTable& table, ScanStateKeeper* keeper)
      : scan_(scan),
        detected_(detected),
        table_(table),
        obs_(scan.Observer()),
        plan_(SearchRescuePlan(scan)),
        keeper_(keeper) {}

  ScanReport Run() {
    // Every file of the scan goes into the folder as it is now, whatever happens to its name.
    std::unique_ptr<OutputFolderHandle> folder;
    if (!scan_.Options.OutputFolder.empty()) folder = std::make_unique<OutputFolderHandle>(scan_.Options.OutputFolder);
    scan_.SearchStop = false;
    const SavedScan* saved = keeper_ ? keeper_->Loaded() : nullptr;
    const ScanPass from = saved ? saved->Pass : ScanPass::Searching;
    if (saved) {
      Resume(*saved);
    } else {
      if (scan_.Options.FreeSpaceOnly) CollectFreeSpace();
      if (scan_.Options.TypeMask & kStreamTypesMask) OpenWorkFiles();
    }
    // Large files are copied while the search reads on; what the passes do not take is
    // deleted after them.
    std::optional<CopiesAhead> copies;
    if (from == ScanPass::Searching && CopiesAheadPay()) {
      copies.emplace(scan_.SourceHandle(), scan_.Options.OutputFolder);
      copies->StopWaitingWhen([this] { return Stopped(); });
    }
    struct Unset {
      ScanContext& scan;
      CopiesAhead*& copies;
      ~Unset() { scan.Copies = copies = nullptr; }
    } unset{scan_, copies_};
    scan_.Copies = copies_ = copies ? &*copies : nullptr;
    if (from == ScanPass::Searching) {
      if (!scan_.SearchStop) {
        SearchPass(saved ? saved->Position : -1);
        if (scan_.Options.GeometryFromData) SettleGridFromData();
        VoteClusterPhase();
      } else {
        report_.SearchCancelled = !report_.WorkFilesFailed;
        scan_.DetectedClusterPhase = KnownPhase() >= 0 ? KnownPhase() : 0;
      }
      report_.DetectedClusterPhase = scan_.DetectedClusterPhase;
      report_.Candidates = static_cast<int64_t>(candidates_.size());
      report_.StreamCandidates = work_.Count() + static_cast<int64_t>(lateStream_.size());
    }
    scan_.SearchStop = true;

    // A stop asked for during the search (the command line's Ctrl-C) still holds.
    if (scan_.RunState != rsStopped) scan_.RunState = rsRunning;
    if (!saved) scan_.RecoveredCount = 0;
    const int64_t lastCandidate = static_cast<int64_t>(candidates_.size()) - 1;
    const bool resumed = from != ScanPass::Searching;
    if (from == ScanPass::Searching || from == ScanPass::Recovery)
      RecoveryPass(ScanPass::Recovery, from == ScanPass::Recovery ? saved->Position : lastCandidate);
    if (!Stopped() && from != ScanPass::Streams)
      RecoveryPass(ScanPass::LateJpeg, resumed && from == ScanPass::LateJpeg ? saved->Position : lastCandidate);
    if (!Stopped() && work_.InUse() && FlushWorkFiles()) StreamPass(from == ScanPass::Streams ? saved->Position : 0);
    scan_.Copies = copies_ = nullptr;
    copies.reset();
    // A stopped scan that can be continued keeps its work files for the next run.
    if (keeper_ && Stopped() && !report_.WorkFilesFailed) work_.Leave();
    work_.Remove();
    report_.Stopped = Stopped();
    report_.RecoveredCount = scan_.RecoveredCount;
    report_.Unrecovered = scan_.Starts.TakeUnrecovered();
    report_.NotTried = std::max<int64_t>(0, int64_t{report_.FoundCount} - offGrid_ - tried_);
    obs_.OnPhase(ScanPass::Finished);
    return report_;
  }

 private:
  int32_t KnownPhase() const {
    const auto& g = scan_.ScanGeometry;
    return g.ClusterPhase < 0 ? -1 : static_cast<int32_t>(g.ClusterPhase % g.SectorsPerCluster);
  }
  bool Stopped() const { return scan_.RunState == rsStopped; }

  // Copying ahead needs a second processor, files to write and an image file to copy from.
  bool CopiesAheadPay() const {
    const ScanOptions& o = scan_.Options;
    return o.Threads >= 2 && !o.InventoryOnly && !o.OutputFolder.empty() &&
           scan_.SourceHandle().Kind() == SourceKind::ImageFile;
  }

  // Takes up where a saved scan stood: the context has its part back already.
  void Resume(const SavedScan& saved) {
    report_ = *saved.Report;
    candidates_ = saved.Candidates;
    mapBuilt_ = saved.FreeSpaceMapBuilt;
    offGrid_ = saved.OffGrid;
    tried_ = saved.Tried;
    lateStream_ = saved.LateStream;
    plan_.Resume(saved.Rescue, scan_.LastSector + 1);  // RestoreScan has checked it
    if (!saved.WorkStarts.empty() &&
        !work_.Adopt(scan_.Options.OutputFolder, saved.WorkStarts, saved.WorkTypes, saved.WorkRecords)) {
      report_.WorkFilesFailed = true;
      obs_.OnWorkFilesFailedBecause(errno ? errno : EIO, true);
    }
  }

  // Saves where the scan stands (at `position` of `pass`, nothing of it done yet).
  void SavePoint(ScanPass pass, int64_t position) {
    if (work_.InUse() && !work_.Sync()) return;
    DriverPoint p;
    p.Pass = pass;
    p.Position = position;
    p.Report = &report_;
    p.Candidates = &candidates_;
    p.FreeSpaceMapBuilt = mapBuilt_;
    p.OffGrid = offGrid_;
    p.Tried = tried_;
    p.LateStream = &lateStream_;
    p.Rescue = plan_.Progress();
    if (work_.InUse()) {
      p.WorkStarts = work_.StartsName(scan_.Options.OutputFolder);
      p.WorkTypes = work_.TypesName(scan_.Options.OutputFolder);
      p.WorkRecords = work_.Count();
    }
    keeper_->Save(scan_, p);
    if (copies_) copies_->NoteAgainInJournal();
  }
  void SaveWhenDue(ScanPass pass, int64_t position, bool force = false) {
    if (keeper_ && (force || keeper_->Due())) SavePoint(pass, position);
  }

  void CollectFreeSpace() {
    obs_.OnPhase(ScanPass::CollectingFreeSpace);
    FreeSpaceResult fs = BuildFreeSpaceMap(scan_.SourceHandle(), detected_, scan_.SectorMap, scan_.SearchStop,
                                           &scan_.Progress,
                                           [this](int64_t t, int64_t d) { obs_.OnFreeSpaceProgress(t, d); });
    mapBuilt_ = fs.built;
    report_.FreeSpaceMapBuilt = fs.built;
    report_.FreeSpaceUnavailable = !fs.built && !fs.cancelled;
    if (fs.cancelled) scan_.SearchStop = true;
  }

  void OpenWorkFiles() {
    if (!work_.Create(scan_.Options.OutputFolder)) {
      report_.WorkFilesFailed = true;
      obs_.OnWorkFilesFailedBecause(errno, false);
      scan_.SearchStop = true;
    } else if (keeper_) {
      work_.KeepAcrossRuns();
    }
  }

  // Writes the buffered stream packets. A disk that refuses them is put to the observer as
  // any failed write is (Retry writes again); given up, the work files go and with them
  // the stream candidates, and the scan says so.
  bool FlushWorkFiles() {
    while (!work_.Flush()) {
      if (AskRetryAfterSaveFailure(scan_, work_.Name())) continue;
      if (Stopped()) scan_.SearchStop = true;  // Abort
      GiveUpWorkFiles();
      return false;
    }
    return true;
  }
  void GiveUpWorkFiles() {
    const int error = errno;
    work_.Remove();
    report_.WorkFilesFailed = true;
    obs_.OnWorkFilesFailedBecause(error, true);
  }

  // late: found by the return pass, behind candidates that lie further on.
  void Keep(int64_t s, uint8_t t, bool late) {
    if (IsStreamPacket(t)) {
      if (work_.InUse() && late) {
        lateStream_.push_back({s, t});
      } else if (work_.InUse()) {
        work_.Append(s, t);
        if (work_.Full()) FlushWorkFiles();
      }
    } else {
      candidates_.push_back({s, t});
    }
    if (copies_ && !late) OfferCopy(s, t);
    if (CountsAsFound(t, scan_.Options.TypeMask)) ++report_.FoundCount;
  }

  // A file of a selected kind whose head states its length, and the first candidate of a run
  // of a selected kind walked ahead (a stream's packets, a document), may be copied ahead of
  // the passes.
  void OfferCopy(int64_t s, uint8_t t) {
    const uint32_t mask = scan_.Options.TypeMask;
    const int64_t offset = s * scan_.SectorSize(), limit = (scan_.LastSector - s + 1) * scan_.SectorSize();
    if (table_.CopyAhead[t] && CountsAsFound(t, mask)) copies_->Offer(offset, limit, table_.CopyAhead[t]);
    if (!table_.WalkAhead[t]) return;
    const bool runGoesOn = s - lastWalked_ <= kWalkedRunGapBytes / scan_.SectorSize();
    lastWalked_ = s;
    if (!runGoesOn && ((StreamMask(t) | FoundMask(t)) & mask)) copies_->Offer(offset, limit, table_.WalkAhead[t]);
  }

  // Every sector of the range (with a known phase, the first of each cluster), read in large
  // blocks and classified where it lies in the block. Sectors that the free-space map claims
  // are neither classified nor, when a whole block of them is claimed, read. A block that
  // cannot be read is skipped with the blocks behind it in growing steps, and read again in
  // shrinking pieces once the rest is done (bad_areas.h).
  // From the block at `resumeAt` when a saved scan is continued (-1: from the start).
  void SearchPass(int64_t resumeAt) {
    obs_.OnPhase(ScanPass::Searching);
    const int64_t first = scan_.FirstSector, last = scan_.LastSector, length = last - first + 1;
    const int64_t spc = scan_.SectorsPerCluster();
    const int32_t phase = KnownPhase();
    const uint32_t bps = scan_.SectorSize();
    // With a known phase only the first sector of each cluster can start a file.
    // Taking the grid from the data needs every sector.
    const int64_t step = (phase >= 0 && spc > 1 && !scan_.Options.GeometryFromData) ? spc : 1;
    int64_t s = first;
    if (step > 1) s += ((phase - first % spc) % spc + spc) % spc;
    const int64_t gridStart = s;
    // Blocks of whole clusters; clusters of 64 KiB or more are read one first sector at a time.
    const bool sparse = step * bps >= kReadCacheWindow;
    const int64_t span = sparse ? step : std::max<int64_t>(1, kSearchBlockBytes / bps / step) * step;
    // With two threads or more, the blocks that follow are read and classified on the
    // reader's thread, and on this one while it would wait (single sectors of large clusters
    // are read as asked).
    const bool readAhead = !sparse && scan_.Options.Threads >= 2;
    const TCameraMode camera = scan_.Options.CameraMode;
    auto wanted = [&](int64_t x) { return !(mapBuilt_ && scan_.SectorMap.IsSectorClaimed(x)); };
    // Runs on the reader's thread too: the free-space map does not change during the search.
    auto classify = [&, bps](int64_t x, const uint8_t* bytes) -> uint8_t {
      return wanted(x) ? ClassifySector(bytes, bps, camera) : uint8_t{ftNone};
    };
    TSearchReader reader(scan_.SourceHandle(), bps, step, classify, scan_.BytesRead);
    // A copy made meanwhile finishes late when it shares a processor: the search reads on one.
    if (copies_) reader.GiveWayWhile([copies = copies_] { return copies->Copying(); });
    // A block is read from its first to its last wanted sector; false when it has none.
    auto wantedSpan = [&](int64_t from, int64_t& lo, int64_t& hi) {
      const int64_t end = std::min(last, from + span - 1);
      lo = from;
      hi = from + (end - from) / step * step;
      while (lo <= hi && !wanted(lo)) lo += step;
      while (hi > lo && !wanted(hi)) hi -= step;
      return lo <= hi;
    };
    if (resumeAt >= 0) s = resumeAt;
    int64_t queued = s;  // the first block not asked for yet
    for (; s <= last; s += span) {
      if (scan_.SearchStop.load(std::memory_order_relaxed)) {
        if (Stopped()) SaveWhenDue(ScanPass::Searching, s, true);
        report_.SearchCancelled = true;
        break;
      }
      SaveWhenDue(ScanPass::Searching, s);
      PassTestKillPoint(TestKillPoint::Search);
      int64_t lo, hi;
      const bool any = wantedSpan(s, lo, hi);
      if (any) reader.Read(lo, hi - lo + 1);
      if (any && !reader.BlockRead()) {
        const int64_t blocks = std::max<int64_t>(1, (plan_.SkipEnd(lo, hi - lo + 1) - s + span - 1) / span);
        plan_.Skipped(lo, std::min(s + blocks * span, last + 1) - lo);
        s += (blocks - 1) * span;
        if (blocks > 1) queued = s + span;  // the blocks queued in the skipped range are dropped
      } else if (any) {
        plan_.ReadWell();
        for (queued = std::max(queued, s + span); readAhead && queued <= last; queued += span) {
          int64_t nextLo, nextHi;
          if (wantedSpan(queued, nextLo, nextHi) && !reader.Queue(nextLo, nextHi - nextLo + 1)) break;
        }
        for (const SearchHit& hit : reader.Hits()) Keep(hit.sector, hit.type, false);
      }
      const int64_t end = std::min(last, s + span - 1);
      if (scan_.Progress.Due() || end == last) obs_.OnSearchProgress(end, length, end - first + 1, report_.FoundCount);
    }
    // The return pass over what was skipped; a piece with no sector to look at is not read.
    // Its saved points lie behind the whole range.
    for (SectorSpan piece; !report_.SearchCancelled;) {
      if (scan_.SearchStop.load(std::memory_order_relaxed)) {
        if (Stopped()) SaveWhenDue(ScanPass::Searching, last + 1, true);
        report_.SearchCancelled = true;
        break;
      }
      SaveWhenDue(ScanPass::Searching, last + 1);
      if (!plan_.NextRetry(piece)) break;
      int64_t lo = gridStart + std::max<int64_t>(0, (piece.First - gridStart + step - 1) / step) * step;
      while (lo < piece.End() && !wanted(lo)) lo += step;
      if (lo >= piece.End()) {
        plan_.Passed();
        continue;
      }
      // The piece's sectors of the grid, from the first wanted one on.
      reader.Read(lo, (piece.End() - 1 - lo) / step * step + 1);
      plan_.Retried(reader.BlockRead());
      PassTestKillPoint(TestKillPoint::Retry);
      for (const SearchHit& hit : reader.Hits()) Keep(hit.sector, hit.type, true);
      if (scan_.Progress.Due()) obs_.OnSearchProgress(last, length, length, report_.FoundCount);
    }
    if (report_.SearchCancelled) plan_.GiveUp();
    report_.Unreadable = plan_.Unreadable().Spans();
    scan_.Unreadable.Add(plan_.Unreadable());
    MergeLateCandidates();
  }

  // The candidates the return pass found (behind those of the forward pass, which are in
  // disk order) among the others, in disk order.
  void MergeLateCandidates() {
    auto bySector = [](const Candidate& a, const Candidate& b) { return a.sector < b.sector; };
    const auto middle = std::is_sorted_until(candidates_.begin(), candidates_.end(), bySector);
    std::sort(middle, candidates_.end(), bySector);
    std::inplace_merge(candidates_.begin(), middle, candidates_.end(), bySector);
    std::sort(lateStream_.begin(), lateStream_.end(), bySector);
  }

  // Candidates the vote weighs fully: file starts, not stream packets or metadata.
  static bool WeighedByVote(uint8_t type) {
    return !(type == ftJpegOther || type == ftMpeg2PackEarly || type == ftMpeg1Pack || type == ftTs192 ||
             type == ftTs188 || type == ftTs192Headers || type == ftFsMetadata);
  }

  // The greatest common divisor of the distances between the weighed candidates.
  void MeasureCandidateGrid() {
    int64_t first = -1, grid = 0;
    for (const Candidate& c : candidates_) {
      if (!WeighedByVote(c.type)) continue;
      if (first < 0) {
        first = c.sector;
        continue;
      }
      grid = std::gcd(grid, c.sector > first ? c.sector - first : first - c.sector);
    }
    report_.CandidateGridSectors = grid;
  }

  // The starts whose format is unambiguous: those the vote weighs, but for the "moov" box
  // that lies inside its file.
  std::vector<int64_t> StrongStarts() const {
    std::vector<int64_t> starts;
    for (const Candidate& c : candidates_)
      if (WeighedByVote(c.type) && c.type != ftMoovBox) starts.push_back(c.sector);
    return starts;
  }

  // The grid of the strong starts replaces the one set up when that one does not hold
  // nearly all of them (a medium formatted again with other clusters). With too few to
  // tell, the geometry set up stays.
  void SettleGridFromData() {
    TSourceGeometry& g = scan_.ScanGeometry;
    report_.PlannedClusterSectors = g.SectorsPerCluster;
    const std::vector<int64_t> starts = StrongStarts();
    const int64_t maxSectors = std::max<int64_t>(1, 128 * 1024 / scan_.SectorSize());
    const std::optional<ClusterGrid> grid = InferClusterGrid(starts, maxSectors);
    if (!grid) return;
    report_.GridSectors = grid->Sectors;
    report_.GridPhase = grid->Phase;
    const std::optional<int32_t> planned = SharedPhase(starts, g.SectorsPerCluster);
    const bool holds = planned && (KnownPhase() < 0 || *planned == KnownPhase());
    // Sector-sized clusters (no file system) hold anything: there the grid found is used
    // once there are enough starts to tell it.
    const bool sectorGrid = g.SectorsPerCluster <= 1 && starts.size() >= kMinGridStarts;
    if (holds && !sectorGrid) {
      g.ClusterPhase = *planned;
      return;
    }
    report_.GridOverrode = g.SectorsPerCluster > 1;
    g.SectorsPerCluster = static_cast<uint32_t>(grid->Sectors);
    g.ClusterPhase = grid->Phase;
  }

  void VoteClusterPhase() {
    const int64_t spc = scan_.SectorsPerCluster();
    MeasureCandidateGrid();
    if (KnownPhase() >= 0 || spc <= 1) {
      scan_.DetectedClusterPhase = KnownPhase() >= 0 ? KnownPhase() : 0;
      // Every sector was searched: what lies off the grid goes as the vote's losers do.
      if (scan_.Options.GeometryFromData && spc > 1) DropOffPhase(scan_.DetectedClusterPhase);
      return;
    }
    obs_.OnPhase(ScanPass::Voting);
    report_.ClusterPhaseVoted = true;
    std::vector<double> score(static_cast<size_t>(spc), 0.0);
    const int64_t count = static_cast<int64_t>(candidates_.size());
    for (int64_t k = count - 1; k >= 0; --k) {
      const Candidate& c = candidates_[static_cast<size_t>(k)];
      double w = c.type == ftJpegOther ? 0.5 : WeighedByVote(c.type) ? 1.0 : 0.0;
      score[static_cast<size_t>(c.sector % spc)] += w;
      if (k % 1024 == 0) obs_.OnVoteProgress(c.sector, count, count - 1 - k);
    }
    int32_t best = static_cast<int32_t>(std::max_element(score.begin(), score.end()) - score.begin());
    scan_.DetectedClusterPhase = best;
    DropOffPhase(best);
  }

  void DropOffPhase(int32_t best) {
    const int64_t spc = scan_.SectorsPerCluster();
    for (const Candidate& c : candidates_) {
      if (!WeighedByVote(c.type)) continue;
      ++report_.VoteWeighed;
      if (c.sector % spc != best) ++report_.VoteDropped;
    }
    for (const Candidate& c : candidates_)
      if (c.sector % spc != best && CountsAsFound(c.type, scan_.Options.TypeMask)) {
        scan_.Starts.Add(c.sector, c.type, StartFate::OffGrid);
        ++offGrid_;
      }
    std::erase_if(candidates_, [&](const Candidate& c) { return c.sector % spc != best; });
    candidates_.shrink_to_fit();
  }

  // Holds while paused; true when the pass must end (stopped).
  bool WaitWhilePaused() {
    while (scan_.RunState == rsPaused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Stopped();
  }

  void ClaimToClusterEnd(int64_t s) {
    scan_.SectorMap.ClaimSector(s);
    const int64_t end = scan_.ClaimClusterTail(s + 1);
    scan_.DeadEnds.ForgetWalksOver(s, end - 1, scan_.SectorSize());
  }

  // The cluster in front of a "moov" box, kept for the MP4 recogniser when it ends with the
  // "mdat" header of the file's data. It is read aside first: a cluster that does not
  // qualify (no "mdat" at its end, or a sector of it already belongs to a file) leaves the
  // kept one, and whether one is pending, as they were.
  void KeepLeadCluster(int64_t s) {
    const int64_t spc = scan_.SectorsPerCluster(), bps = scan_.SectorSize(), bytes = spc * bps;
    if (s < spc) return;
    if (scan_.SectorMap.CountClaimed(s - spc, spc) != 0) return;
    leadScratch_.resize(static_cast<size_t>(bytes));
    if (scan_.ReadSectors(leadScratch_.data(), bytes, (s - spc) * bps) != 0) return;
    if (std::memcmp(leadScratch_.data() + bytes - 4, "mdat", 4) != 0) return;
    std::vector<uint8_t>& lead = scan_.LeadClusterBuffer;
    lead.assign(static_cast<size_t>(std::max<int64_t>(0x20000, bytes)), 0);
    std::copy(leadScratch_.begin(), leadScratch_.end(), lead.begin());
    scan_.SectorMap.ClaimSectorRun(s - spc, spc);
    scan_.DeadEnds.ForgetWalksOver(s - spc, s - 1, scan_.SectorSize());
    scan_.LeadClusterPending = true;
  }

  void Dispatch(const Candidate& c) {
    const int64_t offset = c.sector * scan_.SectorSize();
    if (c.type == ftFsMetadata) return ClaimToClusterEnd(c.sector);
    if (c.type == ftMoovBox) return KeepLeadCluster(c.sector);
    const RecogniserEntry& entry = table_.Recovery[c.type];
    if (entry) entry(scan_, offset);
  }

  bool WaitsForLatePass(const Candidate& c) {
    return c.type == ftJpegApp && table_.JpegWaitsForLatePass &&
           !scan_.SectorMap.IsSectorClaimed(c.sector) &&
           table_.JpegWaitsForLatePass(scan_, c.sector * scan_.SectorSize());
  }

  // Tries a candidate; one of a selected kind that adds no file is written down with why.
  template <typename Recognise>
  void Try(const Candidate& c, bool hasRecogniser, Recognise&& recognise) {
    if (!CountsAsFound(c.type, scan_.Options.TypeMask)) return recognise();
    StartLedger& ledger = scan_.Starts;
    const bool claimed = scan_.SectorMap.IsSectorClaimed(c.sector);
    const int64_t files = ledger.FilesCounted();
    ledger.Begin(c.sector, c.type);
    recognise();
    ++tried_;
    if (ledger.FilesCounted() > files) return;
    const StartFate said = ledger.Fate() != StartFate::Recovered ? ledger.Fate() : StartFate::NoStructure;
    ledger.Add(c.sector, c.type,
               claimed ? StartFate::InsideAnotherFile : hasRecogniser ? said : StartFate::NoRecogniser);
  }

  // The check workers may run for candidate c in `pass`: the recovery pass leaves the JPEGs
  // without an application marker to the late pass, which takes only those deferred.
  const AheadCheck* CheckAheadFor(const Candidate& c, ScanPass pass) const {
    if (pass == ScanPass::LateJpeg) return c.deferred && table_.LateJpeg ? table_.LateJpegAhead : nullptr;
    return c.type == ftJpegOther ? nullptr : table_.Ahead[c.type];
  }

  // Offers the candidates the pass reaches after j, a few at a time, to the workers: those
  // of the kinds asked for, and of the kinds checked even when they are only claimed.
  void OfferAhead(ChecksAhead& ahead, ScanPass pass, int64_t j) {
    ahead.Passed(j);
    const auto count = static_cast<int64_t>(candidates_.size());
    for (nextOffer_ = std::min(nextOffer_, j - 1); nextOffer_ >= 0 && ahead.HasRoom(); --nextOffer_) {
      const Candidate& c = candidates_[static_cast<size_t>(nextOffer_)];
      const int64_t next = nextOffer_ + 1 < count ? candidates_[static_cast<size_t>(nextOffer_ + 1)].sector
                                                  : scan_.LastSector + 1;
      const AheadCheck* kind = CheckAheadFor(c, pass);
      if (kind && (kind->EvenUnselected || CountsAsFound(c.type, scan_.Options.TypeMask)))
        ahead.Offer(scan_.SectorMap, scan_.Unreadable, scan_.LastSector, scan_.SectorSize(), nextOffer_, c.sector,
                    next, *kind);
    }
  }

  // From candidate `from` down to the first. A stop lets the candidate at hand finish, and
  // is saved as the point behind it unless it came with that candidate's file given up
  // (then the last saved point stays).
  void RecoveryPass(ScanPass pass, int64_t from) {
    obs_.OnPhase(pass);
    const int64_t count = static_cast<int64_t>(candidates_.size());
    std::optional<ChecksAhead> ahead;
    if (scan_.Options.Threads > 1) ahead.emplace(scan_.SourceHandle(), scan_.Options.Threads - 1);
    struct Unset {  // the recognisers see the workers while the pass runs, however it ends
      ChecksAhead*& ahead;
      ~Unset() { ahead = nullptr; }
    } unset{scan_.Ahead = ahead ? &*ahead : nullptr};
    nextOffer_ = from;
    bool clean = !Stopped();  // a stop before this pass was saved where it came
    for (int64_t j = from; j >= 0; --j) {
      if (WaitWhilePaused()) {
        if (clean) SaveWhenDue(pass, j, true);
        return;
      }
      SaveWhenDue(pass, j, j == from);
      Candidate& c = candidates_[static_cast<size_t>(j)];
      if (ahead) OfferAhead(*ahead, pass, j);
      if (pass == ScanPass::Recovery) {
        c.deferred = c.type == ftJpegOther || WaitsForLatePass(c);
        if (!c.deferred) Try(c, bool(table_.Recovery[c.type]), [&] { Dispatch(c); });
      } else if (c.deferred) {
        Try(c, bool(table_.LateJpeg), [&] {
          if (table_.LateJpeg) table_.LateJpeg(scan_, c.sector * scan_.SectorSize());
        });
      }
      clean = !scan_.StopGaveUpFile;
      PassTestKillPoint(TestKillPoint::Candidate);
      if (scan_.Progress.Due() || j == 0) obs_.OnRecoveryProgress(pass, count - j, count, c.sector, scan_.RecoveredCount);
    }
    if (Stopped() && clean) SaveWhenDue(pass, -1, true);
  }

  // The packets of the work files and those the return pass found, in disk order.
  bool NextPacket(int64_t& s, uint8_t& t) {
    if (!fileAhead_) fileHas_ = work_.Next(fileAt_.sector, fileAt_.type);
    fileAhead_ = true;
    const bool late = nextLate_ < lateStream_.size() && (!fileHas_ || lateStream_[nextLate_].sector < fileAt_.sector);
    if (!late && !fileHas_) return false;
    const Candidate& c = late ? lateStream_[nextLate_++] : fileAt_;
    fileAhead_ = late;
    s = c.sector;
    t = c.type;
    return true;
  }
  // The packets NextPacket has handed out.
  int64_t PacketsDone() const {
    return work_.Position() - (fileAhead_ && fileHas_ ? 1 : 0) + static_cast<int64_t>(nextLate_);
  }

  // From packet `from` on (those before it were done by an earlier run).
  void StreamPass(int64_t from) {
    obs_.OnPhase(ScanPass::Streams);
    int64_t s = 0;
    uint8_t t = 0;
    const int64_t total = work_.Count() + static_cast<int64_t>(lateStream_.size());
    while (PacketsDone() < from && NextPacket(s, t)) {
    }
    bool clean = true;
    for (;;) {
      if (WaitWhilePaused()) {
        if (clean) SaveWhenDue(ScanPass::Streams, PacketsDone(), true);
        break;
      }
      SaveWhenDue(ScanPass::Streams, PacketsDone(), PacketsDone() == from);
      if (!NextPacket(s, t)) break;
      const RecogniserEntry& entry = table_.Stream[t];
      if ((StreamMask(t) & scan_.Options.TypeMask) && entry) Try({s, t}, true, [&] { entry(scan_, s * scan_.SectorSize()); });
      clean = !scan_.StopGaveUpFile;
      PassTestKillPoint(TestKillPoint::Candidate);
      if (scan_.Progress.Due() || PacketsDone() == total)
        obs_.OnRecoveryProgress(ScanPass::Streams, PacketsDone(), total, s, scan_.RecoveredCount);
    }
    if (work_.ReadFailed()) GiveUpWorkFiles();
  }

  ScanContext& scan_;
  const TSourceGeometry& detected_;
  const RecogniserTable& table_;
  ScanObserver& obs_;
  ScanReport report_;
  WorkFiles work_;
  std::vector<Candidate> candidates_;
  std::vector<Candidate> lateStream_;  // stream packets the return pass found, in disk order
  CopiesAhead* copies_ = nullptr;      // while the passes run, when they pay
  int64_t lastWalked_ = INT64_MIN / 2;  // the last candidate of a kind walked ahead the search kept
  size_t nextLate_ = 0;
  Candidate fileAt_{0, 0};  // the work files' next packet, read ahead of the merge
  bool fileAhead_ = false, fileHas_ = false;
  std::vector<uint8_t> leadScratch_;  // a cluster read for KeepLeadCluster before it qualifies
  bool mapBuilt_ = false;
  int64_t offGrid_ = 0, tried_ = 0;  // starts of selected kinds left off the grid, and tried
  TRescuePlan plan_;  // what the search skipped after read errors, and reads again at its end
  ScanStateKeeper* keeper_;
  int64_t nextOffer_ = -1;  // the next candidate to offer to the workers
};

}  // namespace

bool CountsAsFound(uint8_t fileTypeId, uint32_t typeMask) { return (FoundMask(fileTypeId) & typeMask) != 0; }

std::string StartKindName(uint8_t fileTypeId) {
  std::string name;
  for (const TFileTypeEntry& e : FileTypeCatalogue())
    if (FoundMask(fileTypeId) & e.Mask) name += (name.empty() ? "" : "/") + std::string(e.ShortName);
  return name.empty() ? "?" : name;
}

std::optional<int32_t> SharedPhase(const std::vector<int64_t>& startSectors, int64_t sectors) {
  if (startSectors.empty() || sectors < 1) return std::nullopt;
  std::vector<int64_t> count(static_cast<size_t>(sectors), 0);
  for (int64_t s : startSectors) ++count[static_cast<size_t>(s % sectors)];
  const auto best = std::max_element(count.begin(), count.end());
  if (*best * 10 < static_cast<int64_t>(startSectors.size()) * 9) return std::nullopt;
  return static_cast<int32_t>(best - count.begin());
}

std::optional<ClusterGrid> InferClusterGrid(const std::vector<int64_t>& startSectors, int64_t maxSectors) {
  if (startSectors.empty()) return std::nullopt;
  // Too few to tell a grid from chance: every sector.
  if (startSectors.size() < kMinGridStarts) return ClusterGrid{1, 0};
  int64_t sectors = 1;
  while (sectors * 2 <= maxSectors) sectors *= 2;
  for (; sectors > 1; sectors /= 2)
    if (auto phase = SharedPhase(startSectors, sectors)) return ClusterGrid{sectors, *phase};
  return ClusterGrid{1, 0};
}

TRescuePlan SearchRescuePlan(const ScanContext& scan) {
  return TRescuePlan(std::max<int64_t>(1, kReadCacheWindow / scan.SectorSize()), scan.Options.Retries);
}

ScanReport RunScan(ScanContext& scan, const TSourceGeometry& detected, const RecogniserTable& recognisers,
                   ScanStateKeeper* keeper) {
  Driver driver(scan, detected, recognisers, keeper);
  return driver.Run();
}

}  // namespace morvane
