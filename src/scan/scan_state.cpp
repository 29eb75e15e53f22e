#include "scan/scan_state.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "scan/recovered_file.h"
#include "scan/scan_context.h"
#include "scan/scan_driver.h"
#include "storage/bytes.h"
#include "storage/files.h"
#include "storage/streams.h"

namespace morvane {
namespace {

// "MVNSTAT" and the format's version.
constexpr char kMagic[8] = {'M', 'V', 'N', 'S', 'T', 'A', 'T', '2'};
constexpr size_t kHeaderBytes = 8 + 8 + 4;  // magic, payload length, CRC-32 of the payload
// A state holds the candidates and the claimed runs of the sector map; far beyond what a
// disk of today gives, and still an allocation a machine can make.
constexpr int64_t kMaxStateBytes = int64_t{4} << 30;
// The files made between two saves: a few seconds' worth.
constexpr int64_t kMaxJournalTail = int64_t{64} << 20;
constexpr int64_t kMaxLeadCluster = int64_t{64} << 20;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class StateWriter {
 public:
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void I64(int64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<char>(static_cast<uint64_t>(v) >> (8 * i)));
  }
  void Str(const std::string& s) {
    I64(static_cast<int64_t>(s.size()));
    out_ += s;
  }
  void Candidates(const std::vector<ScanCandidate>& list, bool withDeferred) {
    I64(static_cast<int64_t>(list.size()));
    for (const ScanCandidate& c : list) {
      I64(c.sector);
      U8(c.type);
      if (withDeferred) U8(c.deferred);
    }
  }
  void Runs(const std::vector<SectorRun>& runs) {
    I64(static_cast<int64_t>(runs.size()));
    for (const SectorRun& r : runs) {
      I64(r.First);
      I64(r.Count);
    }
  }
  std::string& Text() { return out_; }

 private:
  std::string out_;
};

// Reads what StateWriter wrote; any read past the end fails the reader for good.
class StateReader {
 public:
  explicit StateReader(ByteView bytes) : bytes_(bytes) {}
  bool Ok() const { return ok_; }
  bool AtEnd() const { return pos_ == bytes_.size(); }
  uint8_t U8() { return Has(1) ? bytes_.U8(pos_++) : 0; }
  int64_t I64() {
    if (!Has(8)) return 0;
    const auto v = static_cast<int64_t>(bytes_.Le64(pos_));
    pos_ += 8;
    return v;
  }
  bool Flag() { return U8() != 0; }
  std::string Str() {
    const int64_t n = Count(1);
    std::string s(reinterpret_cast<const char*>(bytes_.data()) + pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return s;
  }
  // A count of records of recordBytes each that must all still be there; 0 (and failed)
  // when they are not.
  int64_t Count(int64_t recordBytes) {
    const int64_t n = I64();
    if (n < 0 || n > static_cast<int64_t>(bytes_.size() - pos_) / recordBytes) {
      ok_ = false;
      return 0;
    }
    return n;
  }
  std::vector<ScanCandidate> Candidates(bool withDeferred) {
    std::vector<ScanCandidate> list(static_cast<size_t>(Count(withDeferred ? 10 : 9)));
    for (ScanCandidate& c : list) {
      c.sector = I64();
      c.type = U8();
      if (withDeferred) c.deferred = Flag();
    }
    return list;
  }
  std::vector<SectorRun> Runs() {
    std::vector<SectorRun> runs(static_cast<size_t>(Count(16)));
    for (SectorRun& r : runs) {
      r.First = I64();
      r.Count = I64();
      if (r.Count <= 0) ok_ = false;
    }
    return runs;
  }

 private:
  bool Has(size_t n) {
    if (ok_ && bytes_.Has(pos_, n)) return true;
    ok_ = false;
    return false;
  }
  ByteView bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

void WriteReport(StateWriter& w, const ScanReport& r) {
  for (int64_t v : {int64_t{r.RecoveredCount}, int64_t{r.FoundCount}, r.Candidates, r.StreamCandidates,
                    int64_t{r.DetectedClusterPhase}, r.VoteWeighed, r.VoteDropped, r.CandidateGridSectors,
                    r.PlannedClusterSectors, r.GridSectors, int64_t{r.GridPhase}})
    w.I64(v);
  for (bool b : {r.ClusterPhaseVoted, r.FreeSpaceMapBuilt, r.FreeSpaceUnavailable, r.SearchCancelled,
                 r.WorkFilesFailed, r.Stopped, r.GridOverrode})
    w.U8(b);
  w.Runs(r.Unreadable);
}

void ReadReport(StateReader& in, ScanReport& r) {
  r.RecoveredCount = static_cast<int32_t>(in.I64());
  r.FoundCount = static_cast<uint32_t>(in.I64());
  r.Candidates = in.I64();
  r.StreamCandidates = in.I64();
  r.DetectedClusterPhase = static_cast<int32_t>(in.I64());
  r.VoteWeighed = in.I64();
  r.VoteDropped = in.I64();
  r.CandidateGridSectors = in.I64();
  r.PlannedClusterSectors = in.I64();
  r.GridSectors = in.I64();
  r.GridPhase = static_cast<int32_t>(in.I64());
  for (bool* b : {&r.ClusterPhaseVoted, &r.FreeSpaceMapBuilt, &r.FreeSpaceUnavailable, &r.SearchCancelled,
                  &r.WorkFilesFailed, &r.Stopped, &r.GridOverrode})
    *b = in.Flag();
  r.Unreadable = in.Runs();
}

void WriteRescue(StateWriter& w, const RescueProgress& p) {
  for (int64_t v : {int64_t{p.FailuresInRow}, p.Piece, int64_t{p.PassesAtOne}, p.Milliseconds}) w.I64(v);
  for (const auto* spans : {&p.Pending, &p.Failed, &p.Unreadable}) w.Runs(*spans);
}

void ReadRescue(StateReader& in, RescueProgress& p) {
  p.FailuresInRow = static_cast<int32_t>(std::clamp<int64_t>(in.I64(), -1, INT32_MAX));
  p.Piece = in.I64();
  p.PassesAtOne = static_cast<int32_t>(std::clamp<int64_t>(in.I64(), -1, INT32_MAX));
  p.Milliseconds = in.I64();
  for (auto* spans : {&p.Pending, &p.Failed, &p.Unreadable}) *spans = in.Runs();
}

// The claimed sectors of [first, last] as runs.
std::vector<SectorRun> ClaimedRuns(const TSectorMap& map, int64_t first, int64_t last) {
  std::vector<SectorRun> runs;
  for (int64_t s = map.NextClaimedSector(first, last); s >= 0;) {
    const int64_t end = map.NextUnclaimedSector(s, last);
    runs.push_back({s, (end < 0 ? last + 1 : end) - s});
    if (end < 0) break;
    s = map.NextClaimedSector(end, last);
  }
  return runs;
}

// A name of the folder as the journal or the state gives it: a plain file name.
bool PlainName(const std::string& name) {
  return !name.empty() && name.size() < 1024 && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  TNewFileStream out(path, fmCreateNew);
  if (out.FileHandle() == -1) return false;
  return out.Write(bytes.data(), static_cast<int64_t>(bytes.size())) == static_cast<int64_t>(bytes.size()) &&
         SyncFile(out.Handle());
}

// The journal's note of each file made; one scan at a time keeps one.
std::mutex& JournalLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

SavedScan::~SavedScan() = default;

std::string SetupText(const ScanSetup& s, const std::string& extra) {
  const TSourceGeometry& g = s.Geometry;
  const ScanOptions& o = s.Options;
  std::string text = "sectors " + std::to_string(g.PartitionLastSector + 1) + " of " + std::to_string(g.SectorSize) +
                     ", cluster " + std::to_string(g.SectorsPerCluster) + " phase " + std::to_string(g.ClusterPhase) +
                     ", fs " + std::to_string(g.FsType) + ", range " + std::to_string(s.FirstSector) + ".." +
                     std::to_string(s.LastSector) + ", types " + std::to_string(o.TypeMask) + ", dates " +
                     std::to_string(o.DateFrom) + ".." + std::to_string(o.DateTo) + (o.KeepUndatedPhotos ? "+" : "-") +
                     ", camera " + std::to_string(o.CameraMode.CanonPanasonic) + std::to_string(o.CameraMode.Samsung) +
                     std::to_string(o.CameraMode.Sony) + std::to_string(o.CameraMode.Ordro) + ", free " +
                     std::to_string(o.FreeSpaceOnly) + ", grid " + std::to_string(o.GeometryFromData) + ", thumbs " +
                     std::to_string(o.ThumbnailPixelLimit);
  if (o.ThumbnailSpecialSizes)
    for (int32_t v : *o.ThumbnailSpecialSizes) text += " " + std::to_string(v);
  return extra.empty() ? text : text + ", " + extra;
}

ScanStateKeeper::ScanStateKeeper(std::string folder, ScanIdentity identity)
    : folder_(std::move(folder)), identity_(std::move(identity)) {}

ScanStateKeeper::~ScanStateKeeper() {
  SetFileJournal(nullptr);
  if (journal_ >= 0) CloseFile(journal_);
}

bool ScanStateKeeper::StateIn(const std::string& folder) { return NameTakenIn(kWorkingFolder, folder + kScanStateFile); }

std::string ScanStateKeeper::Load() {
  const std::string path = folder_ + kScanStateFile;
  std::error_code ec;
  const auto size = std::filesystem::file_size(Utf8Path(path), ec);
  if (ec) return "There is no saved scan in " + folder_ + " to continue.";
  const std::string damaged = "The saved scan " + path + " is damaged; it cannot be continued.";
  if (size < kHeaderBytes || size > static_cast<uint64_t>(kMaxStateBytes)) return damaged;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  std::ifstream in(Utf8Path(path), std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    return "The saved scan " + path + " cannot be read.";
  const ByteView all(bytes.data(), bytes.size());
  const uint64_t length = all.Le64(8);
  if (all.Matches(0, std::string_view(kMagic, 7)) && !all.Matches(0, std::string_view(kMagic, 8)))
    return "The saved scan " + path + " was made by another version of Morvane; it cannot be continued.";
  if (!all.Matches(0, std::string_view(kMagic, 8)) || length != size - kHeaderBytes) return damaged;
  const ByteView payload = all.Sub(kHeaderBytes, length);
  if (crc32_z(crc32(0, nullptr, 0), payload.data(), payload.size()) != all.Le32(16)) return damaged;

  StateReader r(payload);
  auto s = std::make_unique<SavedScan>();
  s->Identity.Source = r.Str();
  s->Identity.SourceBytes = r.I64();
  s->Identity.Setup = r.Str();
  if (!r.Ok()) return damaged;
  std::string refusal;
  if (s->Identity.Source != identity_.Source)
    refusal = "The saved scan in " + folder_ + " reads " + s->Identity.Source + ", not " + identity_.Source +
              ": choose another folder for this source.";
  else if (s->Identity.SourceBytes != identity_.SourceBytes)
    refusal = identity_.Source + " held " + std::to_string(s->Identity.SourceBytes) +
              " bytes when the saved scan began; it now holds " + std::to_string(identity_.SourceBytes) +
              ": the scan cannot be continued.";
  else if (s->Identity.Setup != identity_.Setup)
    refusal = "The saved scan in " + folder_ + " was made with other options (" + s->Identity.Setup +
              "): continue it with the same options, or choose another folder.";

  const uint8_t pass = r.U8();
  if (pass != static_cast<uint8_t>(ScanPass::Searching) && pass != static_cast<uint8_t>(ScanPass::Recovery) &&
      pass != static_cast<uint8_t>(ScanPass::LateJpeg) && pass != static_cast<uint8_t>(ScanPass::Streams))
    return damaged;
  s->Pass = static_cast<ScanPass>(pass);
  s->Position = r.I64();
  s->Report = std::make_unique<ScanReport>();
  ReadReport(r, *s->Report);
  s->Candidates = r.Candidates(true);
  s->FreeSpaceMapBuilt = r.Flag();
  s->WorkStarts = r.Str();
  s->WorkTypes = r.Str();
  s->WorkRecords = r.I64();
  s->SectorsPerCluster = static_cast<uint32_t>(r.I64());
  s->ClusterPhase = static_cast<int32_t>(r.I64());
  s->DetectedClusterPhase = static_cast<int32_t>(r.I64());
  s->Claimed = r.Runs();
  s->InnerFiles.resize(static_cast<size_t>(r.Count(8 + 1 + 8 + 8 + 8 + 1)));
  for (InnerFile& f : s->InnerFiles) {
    f.FirstSector = r.I64();
    f.Kind = r.U8();
    f.Runs = r.Runs();
    f.Name = r.Str();
    f.Length = r.I64();
    f.Counted = r.Flag();
    if (!f.Name.empty() && !PlainName(f.Name)) return damaged;
  }
  const std::string lead = r.Str();
  if (static_cast<int64_t>(lead.size()) > kMaxLeadCluster) return damaged;
  s->LeadCluster.assign(lead.begin(), lead.end());
  s->LeadClusterPending = r.Flag();
  s->RecoveredCount = static_cast<int32_t>(r.I64());
  s->BytesRead = r.I64();
  s->SectorsWorked = r.I64();
  s->JournalLength = r.I64();
  s->OffGrid = r.I64();
  s->Tried = r.I64();
  s->Unrecovered.resize(static_cast<size_t>(r.Count(8 + 1 + 1)));
  for (UnrecoveredStart& u : s->Unrecovered) {
    u.Sector = r.I64();
    u.Type = r.U8();
    const uint8_t fate = r.U8();
    if (fate == 0 || fate >= static_cast<uint8_t>(StartFate::Count)) return damaged;
    u.Fate = static_cast<StartFate>(fate);
  }
  s->LateStream = r.Candidates(false);
  ReadRescue(r, s->Rescue);
  s->Unreadable = r.Runs();
  s->FrontEnd = r.Str();
  const bool work = !s->WorkStarts.empty();
  if (!r.Ok() || !r.AtEnd() || s->WorkRecords < 0 || s->JournalLength < 0 || s->RecoveredCount < 0 ||
      s->OffGrid < 0 || s->Tried < 0 ||
      (work && (!PlainName(s->WorkStarts) || !PlainName(s->WorkTypes))) || (!work && s->WorkRecords != 0))
    return damaged;
  // A state of another scan is not continued, but a fresh start may still clear up after it.
  (refusal.empty() ? loaded_ : refused_) = std::move(s);
  return refusal;
}

void ScanStateKeeper::Forget() {
  std::unique_ptr<SavedScan> old = loaded_ ? std::move(loaded_) : std::move(refused_);
  if (old) {
    TNewFileStream journal(folder_ + kScanJournalFile, fmOpenRead);
    if (journal.FileHandle() != -1) RemoveFilesMadeAfter(journal, old->JournalLength);
    if (!old->WorkStarts.empty()) {
      RemoveFile(folder_ + old->WorkStarts);
      RemoveFile(folder_ + old->WorkTypes);
    }
  }
  RemoveFile(folder_ + kScanStateFile);
}

bool ScanStateKeeper::RemoveFilesMadeAfter(TNewFileStream& journal, int64_t length) {
  const int64_t size = journal.Size();
  if (size < length || size - length > kMaxJournalTail) {
    errno = EINVAL;
    return false;
  }
  std::string tail(static_cast<size_t>(size - length), '\0');
  if (journal.Seek(length, soBeginning) != length ||
      journal.Read(tail.data(), static_cast<int64_t>(tail.size())) != static_cast<int64_t>(tail.size()))
    return false;
  // A name is noted before the scan takes it, and noted again behind a '/' when it was not
  // taken after all: the last note of each name says whether the file is the scan's.
  std::set<std::string> made;
  for (size_t at = 0, end; (end = tail.find('\n', at)) != std::string::npos; at = end + 1) {
    const bool notTaken = tail[at] == '/';
    const std::string name = tail.substr(at + notTaken, end - at - notTaken);
    if (!PlainName(name) || name == kScanStateFile || name == kScanJournalFile) continue;
    if (notTaken)
      made.erase(name);
    else
      made.insert(name);
  }
  for (const std::string& name : made) RemoveFile(folder_ + name);
  return true;
}

const std::string& ScanStateKeeper::LoadedFrontEnd() const {
  static const std::string none;
  return loaded_ ? loaded_->FrontEnd : none;
}

bool ScanStateKeeper::Begin() {
  const std::string path = folder_ + kScanJournalFile;
  if (loaded_) {
    // The files made after the saved point: the continued scan makes them again.
    TNewFileStream journal(path, fmOpenReadWrite);
    if (journal.FileHandle() == -1 || !RemoveFilesMadeAfter(journal, loaded_->JournalLength)) return false;
    try {
      journal.SetSize(loaded_->JournalLength);
    } catch (const std::system_error&) {
      return false;
    }
  } else {
    RemoveFile(path);  // a journal without a state: a scan that ended before its first save
  }
  FileIdentity identity;
  journal_ = OpenForWriting(path, identity);
  if (journal_ < 0) return false;
  if (!identity.regular) {
    CloseFile(journal_);
    journal_ = -1;
    errno = EINVAL;
    return false;
  }
  journalLength_ = loaded_ ? loaded_->JournalLength : 0;
  if (FileSeek64(journal_, soBeginning, journalLength_) != journalLength_) return false;
  SetFileJournal([this](const std::string& path, bool taken) {
    if (path.compare(0, folder_.size(), folder_) != 0) return;
    const std::string line = (taken ? "" : "/") + path.substr(folder_.size()) + "\n";
    std::lock_guard<std::mutex> hold(JournalLock());
    TNTHandleStream out(journal_);
    if (out.Write(line.data(), static_cast<int64_t>(line.size())) == static_cast<int64_t>(line.size()))
      journalLength_ += static_cast<int64_t>(line.size());
  });
  return true;
}

std::vector<SectorRun> ClaimedRunsCache::Runs(const TSectorMap& map) {
  const int64_t spans = map.SpanCount(), last = map.SectorCount() - 1;
  spanRuns_.resize(static_cast<size_t>(spans));
  for (int64_t i = 0; i < spans; ++i)
    if (map.TakeChanged(i))
      spanRuns_[static_cast<size_t>(i)] = ClaimedRuns(
          map, i * TSectorMap::kSpanSectors, std::min(last, (i + 1) * TSectorMap::kSpanSectors - 1));
  std::vector<SectorRun> runs;
  for (const auto& span : spanRuns_)
    for (const SectorRun& r : span) {
      if (!runs.empty() && runs.back().First + runs.back().Count == r.First)
        runs.back().Count += r.Count;  // a run that goes on into the next span
      else
        runs.push_back(r);
    }
  return runs;
}

bool ScanStateKeeper::Due() {
  // For tests: MORVANE_TEST_SAVE_EVERY=n saves at every n-th point instead.
  static const int64_t every = [] {
    const char* text = std::getenv("MORVANE_TEST_SAVE_EVERY");
    return text ? std::max<int64_t>(1, std::atoll(text)) : 0;
  }();
  if (every > 0) return ++duePoints_ % every == 1 || every == 1;
  return Now() - lastSave_ >= std::max(3.0, 10 * saveCost_);
}

bool ScanStateKeeper::Save(const ScanContext& scan, const DriverPoint& p) {
  const double start = Now();
  StateWriter w;
  w.Str(identity_.Source);
  w.I64(identity_.SourceBytes);
  w.Str(identity_.Setup);
  w.U8(static_cast<uint8_t>(p.Pass));
  w.I64(p.Position);
  WriteReport(w, *p.Report);
  w.Candidates(*p.Candidates, true);
  w.U8(p.FreeSpaceMapBuilt);
  w.Str(p.WorkStarts);
  w.Str(p.WorkTypes);
  w.I64(p.WorkRecords);
  w.I64(scan.ScanGeometry.SectorsPerCluster);
  w.I64(scan.ScanGeometry.ClusterPhase);
  w.I64(scan.DetectedClusterPhase);
  w.Runs(claimed_.Runs(scan.SectorMap));
  const auto& inner = scan.InnerFiles.All();
  w.I64(static_cast<int64_t>(inner.size()));
  for (const auto& [first, f] : inner) {
    w.I64(f.FirstSector);
    w.U8(f.Kind);
    w.Runs(f.Runs);
    w.Str(f.Name.compare(0, folder_.size(), folder_) == 0 ? f.Name.substr(folder_.size()) : std::string());
    w.I64(f.Length);
    w.U8(f.Counted);
  }
  w.Str(std::string(scan.LeadClusterBuffer.begin(), scan.LeadClusterBuffer.end()));
  w.U8(scan.LeadClusterPending);
  w.I64(scan.RecoveredCount);
  w.I64(scan.BytesRead);
  w.I64(scan.SectorsWorked);
  int64_t journalLength;
  {
    std::lock_guard<std::mutex> hold(JournalLock());
    journalLength = journalLength_;
    if (journal_ >= 0 && !SyncFile(journal_)) return false;
  }
  w.I64(journalLength);
  w.I64(p.OffGrid);
  w.I64(p.Tried);
  const auto& unrecovered = scan.Starts.Unrecovered();
  w.I64(static_cast<int64_t>(unrecovered.size()));
  for (const UnrecoveredStart& u : unrecovered) {
    w.I64(u.Sector);
    w.U8(u.Type);
    w.U8(static_cast<uint8_t>(u.Fate));
  }
  w.Candidates(*p.LateStream, false);
  WriteRescue(w, p.Rescue);
  w.Runs(scan.Unreadable.Spans());
  w.Str(frontEnd_ ? frontEnd_() : std::string());

  const std::string& payload = w.Text();
  StateWriter head;
  head.Text().assign(kMagic, 8);
  head.I64(static_cast<int64_t>(payload.size()));
  const auto crc = static_cast<uint32_t>(
      crc32_z(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(payload.data()), payload.size()));
  for (int i = 0; i < 4; ++i) head.U8(static_cast<uint8_t>(crc >> (8 * i)));
  const std::string temporary = folder_ + kScanStateFile + ".tmp";
  RemoveFile(temporary);
  std::error_code ec;
  if (!WriteWholeFile(temporary, head.Text() + payload)) {
    const int error = errno;
    RemoveFile(temporary);
    errno = error;
    return false;
  }
  std::filesystem::rename(Utf8Path(temporary), Utf8Path(folder_ + kScanStateFile), ec);
  if (ec) {
    RemoveFile(temporary);
    errno = ec.value();
    return false;
  }
  lastSave_ = Now();
  saveCost_ = lastSave_ - start;
  return true;
}

void ScanStateKeeper::Finish() {
  SetFileJournal(nullptr);
  if (journal_ >= 0) CloseFile(journal_);
  journal_ = -1;
  RemoveFile(folder_ + kScanStateFile);
  RemoveFile(folder_ + kScanStateFile + ".tmp");
  RemoveFile(folder_ + kScanJournalFile);
}

std::string RestoreScan(ScanContext& scan, const SavedScan& s, const std::string& folder) {
  const std::string damaged = "The saved scan is damaged; it cannot be continued.";
  const int64_t first = scan.FirstSector, last = scan.LastSector, count = scan.SectorMap.SectorCount();
  auto inMap = [&](const std::vector<SectorRun>& runs) {
    return std::all_of(runs.begin(), runs.end(), [&](const SectorRun& r) { return r.First >= 0 && r.Count <= count - r.First; });
  };
  auto inRange = [&](const std::vector<ScanCandidate>& list) {
    return std::all_of(list.begin(), list.end(), [&](const ScanCandidate& c) { return c.sector >= first && c.sector <= last; });
  };
  const bool candidatesOk = inRange(s.Candidates) && inRange(s.LateStream);
  // The plan's checks on a plan of this scan, and the unreadable lists as the plan keeps them.
  TRescuePlan plan = SearchRescuePlan(scan);
  TSectorSpans unreadable, reported;
  const bool rescueOk = plan.Resume(s.Rescue, last + 1) && unreadable.Assign(s.Unreadable, last + 1) &&
                        reported.Assign(s.Report->Unreadable, last + 1);
  const int64_t candidates = static_cast<int64_t>(s.Candidates.size());
  const bool positionOk = s.Pass == ScanPass::Searching ? s.Position >= first && s.Position <= last + 1
                          : s.Pass == ScanPass::Streams ? s.Position >= 0 && s.Position <= s.WorkRecords + static_cast<int64_t>(s.LateStream.size())
                                                        : s.Position >= -1 && s.Position < candidates;
  const uint32_t spc = s.SectorsPerCluster;
  if (!candidatesOk || !positionOk || !rescueOk || !inMap(s.Claimed) || spc < 1 || spc > 65536 || s.ClusterPhase < -1 ||
      s.ClusterPhase >= static_cast<int64_t>(spc) || s.DetectedClusterPhase < 0 ||
      s.DetectedClusterPhase >= static_cast<int64_t>(spc))
    return damaged;
  for (const InnerFile& f : s.InnerFiles)
    if (!inMap(f.Runs)) return damaged;
  scan.ScanGeometry.SectorsPerCluster = spc;
  scan.ScanGeometry.ClusterPhase = s.ClusterPhase;
  scan.DetectedClusterPhase = s.DetectedClusterPhase;
  for (const SectorRun& r : s.Claimed) scan.SectorMap.ClaimSectorRun(r.First, r.Count);
  for (InnerFile f : s.InnerFiles) {
    if (!f.Name.empty()) f.Name = folder + f.Name;
    scan.InnerFiles.Add(std::move(f));
  }
  scan.LeadClusterBuffer = s.LeadCluster;
  scan.LeadClusterPending = s.LeadClusterPending;
  scan.RecoveredCount = s.RecoveredCount;
  scan.BytesRead = s.BytesRead;
  scan.SectorsWorked = s.SectorsWorked;
  scan.Unreadable = std::move(unreadable);
  for (const UnrecoveredStart& u : s.Unrecovered) scan.Starts.Add(u.Sector, u.Type, u.Fate);
  return {};
}

void PassTestKillPoint(TestKillPoint where) {
  struct Plan {
    int where = -1;
    int64_t left = 0;
  };
  static Plan plan = [] {
    Plan p;
    const char* text = std::getenv("MORVANE_TEST_KILL");
    if (!text) return p;
    const std::string s = text;
    const size_t colon = s.find(':');
    if (colon == std::string::npos) return p;
    const std::string name = s.substr(0, colon);
    p.where = name == "search"      ? 0
              : name == "candidate" ? 1
              : name == "copy"      ? 2
              : name == "place"     ? 3
              : name == "retry"     ? 4
                                    : -1;
    p.left = std::atoll(s.c_str() + colon + 1);
    return p;
  }();
  if (plan.where != static_cast<int>(where)) return;
  if (--plan.left <= 0) std::_Exit(137);
}

}  // namespace morvane
