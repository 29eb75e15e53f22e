// morvane scan and morvane backup.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <filesystem>
#include <thread>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/language.h"
#include "app/output_folder.h"
#include "app/startup.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "cli/dfxml_report.h"
#include "cli/interrupt.h"
#include "cli/platform.h"
#include "filetypes/catalogue.h"
#include "formats/recognisers.h"
#include "scan/image_backup.h"
#include "scan/scan_driver.h"
#include "scan/scan_options.h"
#include "scan/scan_state.h"
#include "scan/scan_summary.h"
#include "storage/files.h"
#include "storage/same_device.h"
#include "storage/streams.h"

namespace morvane::cli {
namespace {

const std::string& T(int n) { return FaceTexts().Text(n); }
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// The SHA-256 of a file; empty when it cannot be read.
std::string Sha256OfFile(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  if (!in) return {};
  return Sha256Of([&in](char* buf, int64_t size) -> int64_t {
    if (!in) return 0;
    in.read(buf, size);
    return in.gcount();
  });
}

// The SHA-256 of a file as its runs of sectors on the source hold it, up to its length.
std::string Sha256OfRuns(Source& source, uint32_t sectorSize, const RecoveredFileInfo& f) {
  size_t run = 0;
  int64_t inRun = 0, left = f.Length;
  return Sha256Of([&](char* buf, int64_t size) -> int64_t {
    while (run < f.Runs.size() && inRun >= f.Runs[run].Count * sectorSize) {
      ++run;
      inRun = 0;
    }
    if (left <= 0) return 0;
    if (run == f.Runs.size()) {  // the zeros that end a file cut by the end of the range
      const int64_t n = std::min(size, left);
      std::fill(buf, buf + n, 0);
      left -= n;
      return n;
    }
    const int64_t n = std::min({size, left, f.Runs[run].Count * sectorSize - inRun});
    if (!source.ReadAt(f.Runs[run].First * sectorSize + inRun, buf, static_cast<size_t>(n))) return -1;
    inRun += n;
    left -= n;
    return n;
  });
}

std::string PhaseName(ScanPass p) {
  switch (p) {
    case ScanPass::CollectingFreeSpace: return T(87);
    case ScanPass::Searching: return T(49);
    case ScanPass::Voting: return T(10);
    case ScanPass::Recovery:
    case ScanPass::LateJpeg:
    case ScanPass::Streams: return T(24);
    case ScanPass::Finished: return T(29);
  }
  return {};
}

// How the scan began: a continued scan keeps its first run's (the DFXML report names them).
struct RunStart {
  std::string CommandLine;
  std::string Time;  // UTC, as UtcNow gives it
};

// Shows the scan on stderr, answers the save-failure question, and keeps the report.
class ConsoleScanObserver : public ScanObserver {
 public:
  explicit ConsoleScanObserver(const ScanCommandOptions& o) : options_(o), line_(o.quiet) {}
  // The scan's byte counter, for the read rate.
  void WatchBytes(const std::atomic<int64_t>* bytesRead) { bytesRead_ = bytesRead; }

  void OnPhase(ScanPass p) override {
    line_.Finish();
    if (p == ScanPass::Recovery) {
      recoveryStart_ = Clock::now();
      recoveryBytes_ = bytesRead_ ? bytesRead_->load() : 0;
    }
    // The vote is bookkeeping between the search and the recovery: shown with --verbose only.
    if (p == ScanPass::Voting && !options_.verbose) return;
    std::string name = PhaseName(p);
    if (!options_.quiet && p != ScanPass::Finished && name != shownPhase_) std::cerr << name << "\n";
    shownPhase_ = name;
  }
  void OnFreeSpaceProgress(int64_t total, int64_t done) override {
    line_.Show(T(51) + FormatPercent(total, done));
  }
  void OnSearchProgress(int64_t sector, int64_t range, int64_t done, uint32_t found) override {
    double elapsed = Seconds(start_), rate = bytesRead_ ? *bytesRead_ / std::max(elapsed, 1e-3) : 0;
    double left = done > 0 ? elapsed * (range - done) / done : -1;
    line_.Show(T(51) + FormatPercent(range, done) + "  " + T(50) + std::to_string(sector) + "  " + T(52) +
               std::to_string(found) + "  " + RateAndTimeLeft(rate, left, language_));
  }
  void OnVoteProgress(int64_t sector, int64_t count, int64_t done) override {
    if (options_.verbose) line_.Show(T(51) + FormatPercent(count, done));
  }
  // The recovery passes work from the last candidate to the first: progress is the share
  // of candidates done, the rate what was read since the pass began.
  void OnRecoveryProgress(ScanPass, int64_t done, int64_t count, int64_t sector, int32_t recovered) override {
    double elapsed = Seconds(recoveryStart_);
    double rate = bytesRead_ ? (*bytesRead_ - recoveryBytes_) / std::max(elapsed, 1e-3) : 0;
    double left = done > 0 ? elapsed * (count - done) / done : -1;
    std::string text = T(65) + FormatPercent(count, done) + "  " + FileCountText(recovered, language_) + "  " +
                       RateAndTimeLeft(rate, left, language_);
    if (options_.verbose) text += "  (candidate at sector " + std::to_string(sector) + ")";
    line_.Show(text);
  }
  void OnCopyProgress(int64_t start, int64_t current) override {
    if (options_.verbose)
      line_.Show("Copying the file that starts at sector " + std::to_string(start) + ": at sector " +
                 std::to_string(current));
  }
  void OnWorkFilesFailedBecause(int error, bool later) override {
    line_.Finish();
    if (later)
      std::cerr << "The work files could not be written or read back (" << std::strerror(error)
                << "): the MPEG and TS videos found are lost.\n";
    else
      std::cerr << "Can't create TMP file! (" << std::strerror(error) << ")\n";
  }
  // The scan's run state, so that retries end when the user stops.
  void WatchRunState(const std::atomic<RunState>* state) { runState_ = state; }

  SaveFailureChoice OnSaveFailedBecause(const std::string& name, int error) override {
    line_.Finish();
    std::cerr << T(28) << name << ": " << std::strerror(error) << "\n";
    std::string mode = options_.onWriteError;
    if (mode == "ask" && !InputIsTerminal()) mode = "abort";
    SaveFailureChoice choice = mode == "retry"    ? RetryAfterPause(error)
                               : mode == "ignore" ? SaveFailureChoice::Ignore
                               : mode == "abort"  ? SaveFailureChoice::Abort
                                                  : Ask();
    if (choice != SaveFailureChoice::Retry) ++writeFailures_;
    return choice;
  }
  void OnFileRecovered(const RecoveredFileInfo& f) override {
    failuresInARow_ = 0;
    tally_.Add(f.Extension, f.Length);
    if (f.DeclaredLength > 0 && !options_.quiet) {
      line_.Finish();
      std::cerr << std::filesystem::path(f.Name).filename().string() << ": states " << f.DeclaredLength
                << " bytes, but the medium ends " << f.Length << " bytes after its start; kept up to there\n";
    }
    Keep(f);
  }
  // A frame taken back by its video: it leaves the totals and the report.
  void OnFileWithdrawn(const RecoveredFileInfo& f) override {
    if (f.Name.empty()) return;
    tally_.Remove(f.Extension, f.Length);
    const std::string name = JsonPath(std::filesystem::path(f.Name).filename().string());
    for (auto it = files_.begin(); it != files_.end(); ++it)
      if ((*it)["name"] == name) {
        files_.erase(it);
        break;
      }
  }
  // Files that could not be written (given up or aborted).
  int WriteFailures() const { return writeFailures_; }
  // Tries a failed write again after a short pause, a bounded number of times in a row;
  // a Stop during the pause, or one failure too many, aborts the scan.
  SaveFailureChoice RetryAfterPause(int error) {
    if (++failuresInARow_ > kMaxRetries) {
      std::cerr << "Giving up after " << kMaxRetries << " retries: " << std::strerror(error) << "\n";
      return SaveFailureChoice::Abort;
    }
    for (auto waited = std::chrono::milliseconds(0); waited < kRetryPause; waited += kRetryPoll) {
      if (Stopped()) return SaveFailureChoice::Abort;
      std::this_thread::sleep_for(kRetryPoll);
    }
    if (Stopped()) return SaveFailureChoice::Abort;
    std::cerr << "Retrying (" << failuresInARow_ << " of " << kMaxRetries << ")\n";
    return SaveFailureChoice::Retry;
  }
  bool Stopped() const { return (runState_ && *runState_ == rsStopped) || InterruptWatch::Interrupted(); }
  SaveFailureChoice Ask() {
    for (;;) {
      std::cerr << "[A]bort, [R]etry, [I]gnore? " << std::flush;
      std::string answer;
      if (!std::getline(std::cin, answer)) return SaveFailureChoice::Abort;
      char c = answer.empty() ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(answer[0])));
      if (c == 'a') return SaveFailureChoice::Abort;
      if (c == 'r') return SaveFailureChoice::Retry;
      if (c == 'i') return SaveFailureChoice::Ignore;
    }
  }
  void Keep(const RecoveredFileInfo& f) {
    if (options_.report.empty() && !dfxml_) return;
    const std::string name = std::filesystem::path(f.Name).filename().string();
    const std::string sha256 = !options_.inventory ? Sha256OfFile(f.Name) : options_.hash ? hashRuns_(f) : "";
    if (dfxml_) AddToDfxml({name, f.Length, f.Runs, sha256});
    if (options_.report.empty()) return;
    files_.push_back({{"name", JsonPath(name)},
                      {"type", f.Extension},
                      {"firstSector", f.FirstSector},
                      {"length", f.Length},
                      {"sectorRuns", RunsJson(f.Runs)}});
    if (!sha256.empty()) files_.back()["sha256"] = sha256;
    // The zeros at the end of a file cut by the end of the range, and what the medium cut.
    if (f.ZeroFilled > 0) files_.back()["zeroFilled"] = f.ZeroFilled;
    if (f.DeclaredLength > 0) files_.back()["declaredLength"] = f.DeclaredLength;
  }
  // How an inventory hashes a file it does not write: from its runs on the source.
  void HashRunsWith(std::function<std::string(const RecoveredFileInfo&)> hash) { hashRuns_ = std::move(hash); }
  // The DFXML report that each recovered file is added to.
  void WriteDfxml(DfxmlReport* report) { dfxml_ = report; }
  void AddToDfxml(const DfxmlFile& file) {
    dfxmlFiles_.push_back({{"name", file.Name}, {"length", file.Length}, {"sha256", file.Sha256}, {"runs", RunsJson(file.Runs)}});
    if (!dfxml_->Failed() && !dfxml_->Add(file)) {
      line_.Finish();
      std::cerr << "Cannot write the DFXML report " << options_.dfxml << ": " << std::strerror(dfxml_->Error()) << "\n";
    }
  }

  // What the observer gathered, for a scan that may be continued (with the time it ran, and
  // the command line and the time that began it), and the same taken back: false when it is
  // not one. Kept as CBOR, which holds names that are not UTF-8 byte for byte.
  std::string Record(double seconds, const RunStart& start) const {
    nlohmann::json kinds = nlohmann::json::object();
    for (const auto& [kind, n] : tally_.ByKind()) kinds[kind] = {n, tally_.BytesByKind().at(kind)};
    const nlohmann::json record{{"kinds", kinds},   {"writeFailures", writeFailures_}, {"files", files_},
                                {"dfxml", dfxmlFiles_}, {"seconds", seconds}, {"commandLine", start.CommandLine},
                                {"startTime", start.Time}};
    const std::vector<uint8_t> bytes = nlohmann::json::to_cbor(record);
    return std::string(bytes.begin(), bytes.end());
  }
  bool Restore(const std::string& text, double& seconds, RunStart& start) {
    try {
      const nlohmann::json j = nlohmann::json::from_cbor(text);
      for (const auto& [kind, n] : j.at("kinds").items()) tally_.AddKind(kind, n.at(0).get<int>(), n.at(1).get<int64_t>());
      writeFailures_ = j.at("writeFailures").get<int>();
      files_ = j.at("files");
      seconds = j.at("seconds").get<double>();
      start = {j.at("commandLine").get<std::string>(), j.at("startTime").get<std::string>()};
      if (!files_.is_array()) return false;
      for (const auto& f : j.at("dfxml")) {
        DfxmlFile file{f.at("name").get<std::string>(), f.at("length").get<int64_t>(), {}, f.at("sha256").get<std::string>()};
        for (const auto& r : f.at("runs")) file.Runs.push_back({r.at(0).get<int64_t>(), r.at(1).get<int64_t>()});
        if (dfxml_) AddToDfxml(file);
      }
      return true;
    } catch (const nlohmann::json::exception&) {
      return false;
    }
  }

  ProgressLine& Line() { return line_; }
  const RecoveredTally& Tally() const { return tally_; }
  nlohmann::json& Files() { return files_; }

 private:
  static constexpr int kMaxRetries = 5;
  static constexpr auto kRetryPause = std::chrono::milliseconds(1000);
  static constexpr auto kRetryPoll = std::chrono::milliseconds(50);
  const ScanCommandOptions& options_;
  const Language language_ = LanguageFromEnvironment();
  ProgressLine line_;
  const std::atomic<RunState>* runState_ = nullptr;
  int failuresInARow_ = 0;
  int writeFailures_ = 0;
  const std::atomic<int64_t>* bytesRead_ = nullptr;
  Clock::time_point start_ = Clock::now();
  Clock::time_point recoveryStart_ = Clock::now();
  int64_t recoveryBytes_ = 0;
  RecoveredTally tally_;
  std::string shownPhase_;
  static nlohmann::json RunsJson(const std::vector<SectorRun>& runs) {
    nlohmann::json j = nlohmann::json::array();
    for (const auto& r : runs) j.push_back({r.First, r.Count});
    return j;
  }
  nlohmann::json files_ = nlohmann::json::array();
  nlohmann::json dfxmlFiles_ = nlohmann::json::array();
  DfxmlReport* dfxml_ = nullptr;
  std::function<std::string(const RecoveredFileInfo&)> hashRuns_;
};

int ItemOf(const std::vector<std::string_view>& names, const std::string& value) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == value) return static_cast<int>(i);
  return -1;
}

bool Refuse(const std::string& text) {
  FailText(text);
  return false;
}

// Applies --reason, --fs and --cluster as the scan screen's three lists would.
bool ApplyGeometryChoices(PartitionModel& model, const ScanCommandOptions& o) {
  static const std::vector<std::string_view> reasons = {"deleted", "formatted", "repartitioned"};
  static const std::vector<std::string_view> systems = {"fat", "fat32", "ntfs", "exfat", "hfs", "hfs+", "other"};
  if (!o.reason.empty()) {
    int item = ItemOf(reasons, o.reason);
    if (item < 0) return Refuse("--reason must be deleted, formatted or repartitioned");
    PartitionResult r = model.ComboBox3Click(item);
    if (!r.Ok()) std::cerr << T(r.TextId) << "\n";  // taken as "formatted"
  }
  bool listsOpen = model.GroupBox1().ComboBox2.Enabled;
  if ((!o.fs.empty() || !o.cluster.empty()) && !listsOpen)
    return Refuse("--fs and --cluster need --reason formatted or repartitioned");
  if (!o.fs.empty()) {
    int item = ItemOf(systems, o.fs);
    if (item < 0) return Refuse("--fs must be one of fat, fat32, ntfs, exfat, hfs, hfs+, other");
    model.ComboBox2Click(item);
  }
  if (!o.cluster.empty()) {
    int item = ClusterItemForText(o.cluster);
    if (item < 0 || item > 8) return Refuse("--cluster must be one of 0.5K 1K 2K 4K 8K 16K 32K 64K 128K");
    model.ComboBox1Click(item, true);
  }
  return true;
}

// The starts found that did not become files: each with its sector, kind and why, and the
// counts by why and kind.
void AddUnrecovered(nlohmann::json& j, const ScanReport& r) {
  nlohmann::json starts = nlohmann::json::array(), byReason = nlohmann::json::object();
  for (const UnrecoveredStart& u : r.Unrecovered)
    starts.push_back({{"firstSector", u.Sector}, {"kind", StartKindName(u.Type)}, {"reason", StartFateKey(u.Fate)}});
  for (const UnrecoveredGroup& g : GroupUnrecovered(r)) byReason[StartFateKey(g.Fate)] = g.ByKind;
  j["notRecovered"] = r.StartsFound() - r.RecoveredCount;
  j["notRecoveredByReason"] = byReason;
  j["notTried"] = r.NotTried;
  j["unrecovered"] = starts;
}

// The sectors that could not be read: [first sector, count] pairs in disk order.
nlohmann::json UnreadableJson(const std::vector<SectorSpan>& spans) {
  nlohmann::json list = nlohmann::json::array();
  for (const SectorSpan& s : spans) list.push_back({s.First, s.Count});
  return list;
}

// Writes the JSON report; false (with the reason on stderr) when it could not be written.
bool WriteReport(const std::string& path, const ScanCommandOptions& o, const PartitionModel& model,
                 const ScanReport& r, ConsoleScanObserver& obs, const ScanContext& scan, double seconds) {
  nlohmann::json j = {{"source", JsonPath(model.SourceName())},
                      {"outputFolder", JsonPath(o.folder)},
                      {"inventory", o.inventory},
                      {"firstSector", scan.FirstSector},
                      {"lastSector", scan.LastSector},
                      {"sectorSize", scan.SectorSize()},
                      {"sectorsPerCluster", scan.SectorsPerCluster()},
                      {"clusterPhase", r.DetectedClusterPhase},
                      {"clusterPhaseVoted", r.ClusterPhaseVoted},
                      {"found", r.StartsFound()},
                      {"candidates", r.Candidates},
                      {"streamCandidates", r.StreamCandidates},
                      {"recovered", r.RecoveredCount},
                      {"writeFailures", obs.WriteFailures()},
                      {"freeSpaceMapBuilt", r.FreeSpaceMapBuilt},
                      {"searchCancelled", r.SearchCancelled},
                      {"workFilesFailed", r.WorkFilesFailed},
                      {"stopped", r.Stopped},
                      {"bytesRead", scan.BytesRead.load()},
                      {"seconds", seconds},
                      {"fsType", FileSystemName(model.DetectedGeometry().FsType)},
                      {"recoveredBytes", obs.Tally().Bytes()},
                      {"recoveredByKind", obs.Tally().ByKind()},
                      {"voteWeighed", r.VoteWeighed},
                      {"voteDropped", r.VoteDropped},
                      {"geometryFromData", scan.Options.GeometryFromData},
                      {"gridSectors", r.GridSectors},
                      {"gridPhase", r.GridPhase},
                      {"plannedSectorsPerCluster", r.PlannedClusterSectors},
                      {"gridOverrode", r.GridOverrode},
                      {"unreadable", UnreadableJson(r.Unreadable)},
                      {"files", obs.Files()}};
  AddUnrecovered(j, r);
  std::string text;
  try {
    text = j.dump(2) + "\n";
  } catch (const nlohmann::json::exception& e) {
    std::cerr << "Cannot write the report " << path << ": " << e.what() << "\n";
    return false;
  }
  // Checked again: the scan took a while, and the path may have been changed meanwhile.
  if (OutputEndangersSource(path, *model.SourceHandle())) {
    std::cerr << "Cannot write the report " << path << ": it is the source or on its drive\n";
    return false;
  }
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  const int openError = errno;
  if (out) out << text;
  if (out) out.close();
  if (!out) {
    std::cerr << "Cannot write the report " << path << ": " << std::strerror(errno ? errno : openError) << "\n";
    return false;
  }
  return true;
}

// The output folder: an existing writable folder, or one new folder inside an existing one,
// made (like other carvers do) once it is known not to lie on the source. With `create`
// false it only checks; the folder is made by the call with `create` true, once every other
// check has passed. The refusal is printed.
bool PrepareOutputFolder(const std::string& folder, Source& source, bool create, bool quiet = false) {
  FolderCheckResult r = CheckOutputFolder(folder, source, create);
  switch (r.Outcome) {
    case FolderCheck::Ok: return true;
    case FolderCheck::Created:
      if (!quiet) std::cerr << "Created the folder " << folder << "\n";
      return true;
    case FolderCheck::NotGiven: Fail(21); break;
    case FolderCheck::Missing: {
      std::string parent = PathText(Utf8Path(folder).lexically_normal().parent_path());
      Fail(21, folder + ": neither it nor its parent folder " + (parent.empty() ? "." : parent) +
                   " exists (only the last folder of the path is created)");
      break;
    }
    case FolderCheck::NotAFolder:
      FailText(folder + " is a file, not a folder: -o names the folder the recovered files go into.");
      break;
    case FolderCheck::CreateFailed: FailText("Cannot create the folder " + folder + ": " + r.Reason); break;
    case FolderCheck::NotWritable: FailText("Cannot write into the folder " + folder + ": " + r.Reason); break;
    case FolderCheck::OnSource: Fail(22); break;
  }
  return false;
}

// The command line that scans again with the suggested cluster size, the rest as given.
std::string CommandWithCluster(const ScanCommandOptions& o, const std::string& cluster) {
  auto quote = [](const std::string& s) {
    if (s.find_first_of(" '\"\\$`!*?;&|<>()") == std::string::npos && !s.empty()) return s;
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  std::string cmd = "morvane scan " + quote(o.source) +
                    (o.inventory ? std::string(" --inventory") : " -o " + quote(FreshFolderBeside(o.folder))) + " --reason " +
                    (o.reason == "repartitioned" ? "repartitioned" : "formatted");
  if (!o.fs.empty()) cmd += " --fs " + o.fs;
  cmd += " --cluster " + cluster;
  if (!o.first.empty()) cmd += " --first " + o.first;
  if (!o.last.empty()) cmd += " --last " + o.last;
  if (o.types != "all") cmd += " --types " + quote(o.types);
  if (!o.photoFrom.empty()) cmd += " --photo-from " + o.photoFrom;
  if (!o.photoTo.empty()) cmd += " --photo-to " + o.photoTo;
  if (o.noUndated) cmd += " --no-undated";
  if (o.camera != "normal") cmd += " --camera " + o.camera;
  return cmd;
}

// A temporary folder for an inventory's work files; removed (once empty) at the end.
class InventoryFolder {
 public:
  bool Make() {
    path_ = MakeTempFolder("morvane-inventory-");
    return !path_.empty();
  }
  const std::string& Path() const { return path_; }
  ~InventoryFolder() {
    if (!path_.empty()) RemoveEmptyFolder(path_);
  }

 private:
  std::string path_;
};

// An inventory on standard output: the files the scan would recover, by kind.
void PrintInventory(const RecoveredTally& t, const std::string& source) {
  std::cout << "Inventory of " << source << ": " << t.Files() << " file" << (t.Files() == 1 ? "" : "s") << ", "
            << FormatBytes(t.Bytes()) << "\n";
  if (t.Files() == 0) return;
  std::cout << "  kind        files  size\n";
  for (const auto& [kind, n] : t.ByKind()) {
    std::string k = kind;
    k.resize(std::max<size_t>(k.size(), 10), ' ');
    std::string count = std::to_string(n);
    count.insert(0, count.size() < 6 ? 6 - count.size() : 0, ' ');
    std::cout << "  " << k << count << "  " << FormatBytes(t.BytesByKind().at(kind)) << "\n";
  }
}

// The closing summary on stderr: what was recovered, where, how fast, and what was found
// but not recovered.
void PrintSummary(const ScanCommandOptions& o, const ScanReport& report, const ConsoleScanObserver& obs,
                  const ScanContext& scan, double seconds, bool interrupted) {
  ScanOutcome outcome;
  outcome.Report = report;
  outcome.Tally = obs.Tally();
  if (!o.inventory) outcome.Folder = PathText(std::filesystem::absolute(Utf8Path(o.folder)).lexically_normal());
  outcome.Seconds = seconds;
  outcome.BytesRead = scan.BytesRead;
  outcome.WriteFailures = obs.WriteFailures();
  outcome.Interrupted = interrupted;
  std::vector<std::string> lines = ClosingSummary(outcome, LanguageFromEnvironment());
  if (const size_t into = lines[0].rfind(" into "); o.inventory && into != std::string::npos)
    lines[0] = lines[0].substr(0, into) + ", nothing written (an inventory)";
  for (const std::string& line : lines) std::cerr << line << "\n";
}

}  // namespace

int RunScanCommand(const ScanCommandOptions& o) {
  if (o.inventory && !o.folder.empty()) return UsageError("--inventory writes no files: leave out -o");
  if (!o.inventory && o.folder.empty()) return UsageError("--output is required (or --inventory)");
  if (o.hash && !o.inventory) return UsageError("--hash goes with --inventory (a scan's report always hashes)");
  if (o.resume && o.inventory) return UsageError("--resume continues a scan into a folder: an inventory keeps none");
  PartitionModel model;
  if (!OpenForCommand(model, o.source)) return kExitFailed;
  if (!ApplyGeometryChoices(model, o)) return kExitUsage;

  // The checks of the start button, in their order.
  ScanOptions options;
  std::string error;
  std::vector<std::string> notes;
  auto mask = ParseTypeList(o.types, error, &notes);
  if (!mask) return UsageError(error);
  if (!o.quiet)
    for (const std::string& note : notes) std::cerr << note << "\n";
  options.TypeMask = *mask;
  if (options.TypeMask == 0) return Fail(20);
  if (!o.inventory && !PrepareOutputFolder(o.folder, *model.SourceHandle(), false)) return kExitFailed;
  for (const std::string& report : {o.report, o.dfxml})
    if (!report.empty() && OutputEndangersSource(report, *model.SourceHandle()))
      return FailText("The report can't be written over the source or onto its drive: " + report);
  if (options.TypeMask & kPhotoTypesMask) {
    DateRangeCheck check = TakePhotoDateRange(options, o.photoFrom, o.photoTo, !o.noUndated);
    if (check != DateRangeCheck::Ok) return FailText(std::string(DateRangeCheckText(check, LanguageFromEnvironment())));
  }
  model.ComboBox1Click(model.GroupBox1().ComboBox1.ItemIndex, false);
  // An inventory's stream work files go into a folder of its own, removed at the end.
  InventoryFolder workFolder;
  if (o.inventory && !workFolder.Make()) return FailText(std::string("Cannot create a work folder: ") + std::strerror(errno));
  options.OutputFolder = WithSlash(o.inventory ? workFolder.Path() : o.folder);
  options.InventoryOnly = o.inventory;
  int camera = CameraModeItemForName(o.camera);
  if (camera < 0) return UsageError("--camera must be one of normal, canon, samsung, sony, ordro");
  options.CameraMode = CameraModeForItem(camera);
  if (o.freeSpaceOnly && !model.GroupBox1().CheckBox8Enabled)
    return FailText("--free-space-only needs a recognised file system (FAT, NTFS, exFAT, HFS, HFS+)");
  options.FreeSpaceOnly = o.freeSpaceOnly;
  options.Threads = o.threads > 0 ? o.threads : ProcessorCount();
  options.Retries = o.retries;
  options.GeometryFromData = o.geometry == "auto" || (o.geometry.empty() && !model.ClusterChosenByUser());
  StartupResult startup = RunStartup(ProgramFolder());
  options.ThumbnailPixelLimit = startup.thumbnails.ThumbnailPixelLimit;
  options.ThumbnailSpecialSizes = startup.thumbnails.ThumbnailSpecialSizes;

  ScanSetup setup;
  setup.Geometry = model.ScanGeometry();
  setup.FirstSector = ParseSectorNumber(o.first.empty() ? model.GroupBox1().Edit3 : o.first);
  setup.LastSector = ParseSectorNumber(o.last.empty() ? model.GroupBox1().Edit4 : o.last);
  setup.Options = options;
  if (setup.FirstSector < 0 || setup.FirstSector > setup.LastSector ||
      setup.LastSector > setup.Geometry.PartitionLastSector)
    return Fail(23, "Valid sectors: 0 to " + std::to_string(setup.Geometry.PartitionLastSector) +
                        ", with --first not after --last.");

  if (!o.inventory && !PrepareOutputFolder(o.folder, *model.SourceHandle(), true, o.quiet)) return kExitFailed;
  // An output folder keeps where its scan stands, so that a stopped or cut-off scan can go on.
  std::unique_ptr<ScanStateKeeper> keeper;
  double secondsBefore = 0;
  RunStart runStart{o.commandLine, UtcNow()};
  if (!o.inventory) {
    const std::string extra = std::string("report ") + (o.report.empty() ? "no" : "yes") + ", dfxml " +
                              (o.dfxml.empty() ? "no" : "yes");
    ScanIdentity identity{model.SourceName(), model.SourceHandle()->SizeBytes(), SetupText(setup, extra)};
    keeper = std::make_unique<ScanStateKeeper>(options.OutputFolder, identity);
    if (!o.resume && ScanStateKeeper::StateIn(options.OutputFolder))
      return FailText(o.folder + " holds a scan that did not finish (" + kScanStateFile +
                      "): continue it with --resume, or choose another folder.");
    if (o.resume)
      if (const std::string refusal = keeper->Load(); !refusal.empty()) return FailText(refusal);
  }
  ProgressClock clock;
  ConsoleScanObserver observer(o);
  auto created = ScanContext::Create(*model.SourceHandle(), setup, clock, &observer);
  if (created.Error == ScanSetupError::NoMemory) return FailText(T(88));
  if (!created.Scan) return Fail(23);
  ScanContext& scan = *created.Scan;
  observer.WatchBytes(&scan.BytesRead);
  observer.HashRunsWith([&scan](const RecoveredFileInfo& f) { return Sha256OfRuns(scan.SourceHandle(), scan.SectorSize(), f); });
  DfxmlReport dfxml;
  if (keeper && keeper->Loaded()) {
    if (const std::string refusal = RestoreScan(scan, *keeper->Loaded(), options.OutputFolder); !refusal.empty())
      return FailText(refusal);
    ConsoleScanObserver check(o);
    if (!check.Restore(keeper->LoadedFrontEnd(), secondsBefore, runStart))
      return FailText("The saved scan in " + o.folder + " is damaged; it cannot be continued.");
  }
  if (!o.dfxml.empty()) {
    if (!dfxml.Open(o.dfxml, runStart.CommandLine, runStart.Time, model.SourceName(), scan.SectorSize()))
      return FailText("Cannot write the DFXML report " + o.dfxml + ": " + std::strerror(dfxml.Error()));
    observer.WriteDfxml(&dfxml);
  }
  if (keeper && keeper->Loaded()) observer.Restore(keeper->LoadedFrontEnd(), secondsBefore, runStart);
  auto started = Clock::now();
  if (keeper) {
    keeper->SetFrontEnd([&] { return observer.Record(secondsBefore + Seconds(started), runStart); });
    if (!keeper->Begin()) {
      // A continued scan cannot go on without its journal; a new one runs without a state.
      if (keeper->Loaded()) return FailText("Cannot keep the scan's journal in " + o.folder + ": " + std::strerror(errno));
      if (!o.quiet) std::cerr << "This scan cannot be continued later: " << std::strerror(errno) << "\n";
      keeper.reset();
    }
    if (keeper && keeper->Loaded() && !o.quiet) std::cerr << "Continuing the scan saved in " << o.folder << "\n";
  }
  observer.WatchRunState(&scan.RunState);
  InterruptWatch watch([&scan] {
    scan.SearchStop = true;
    scan.RunState = rsStopped;
  });
  ScanReport report = RunScan(scan, model.DetectedGeometry(), DefaultRecognisers(), keeper.get());
  observer.Line().Finish();
  double seconds = secondsBefore + Seconds(started);

  if (report.FreeSpaceUnavailable && !o.quiet)
    std::cerr << "The file system gives no free-space map; all sectors were searched.\n";
  if (o.inventory && !o.quiet) PrintInventory(observer.Tally(), model.SourceName());
  else if (!o.quiet) std::cout << T(27) << report.RecoveredCount << std::endl;
  const bool reportWritten = o.report.empty() || WriteReport(o.report, o, model, report, observer, scan, seconds);
  const bool stopped = report.Stopped || report.SearchCancelled || InterruptWatch::Interrupted();
  // A scan that lost its work files cannot be continued: nothing of it stays behind.
  if (keeper && (!stopped || report.WorkFilesFailed)) keeper->Finish();
  else if (keeper && ScanStateKeeper::StateIn(options.OutputFolder) && !o.quiet) std::cerr << "To continue this scan later: add --resume to the same command.\n";
  if (!o.quiet) PrintSummary(o, report, observer, scan, seconds, InterruptWatch::Interrupted());
  if (const std::string grid = GridFromDataText(report, scan.SectorSize(), PlannedFileSystemName(model.DetectedGeometry(), report));
      !grid.empty() && !o.quiet)
    std::cerr << grid << "\n";
  if (auto advice = AdviseGeometry(report, scan.SectorsPerCluster(), scan.SectorSize()); advice && !o.quiet)
    std::cerr << GeometryAdviceText(*advice) << "\nTo scan again that way:\n  "
              << CommandWithCluster(o, ClusterSizeName(advice->ClusterBytes)) << "\n";
  if (report.WorkFilesFailed) return kExitOutputUnusable;
  if (!reportWritten || dfxml.Failed() || observer.WriteFailures() > 0) return kExitWriteFailed;
  if (stopped) return kExitStopped;
  return kExitOk;
}

}  // namespace morvane::cli
