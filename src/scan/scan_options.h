// The options of one scan, as the front end hands them to the engine.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/language.h"
#include "scan/bad_areas.h"
#include "scan/camera_mode.h"

namespace morvane {

inline constexpr uint32_t kAllTypesMask = 0x3FFFFFFF;

struct ScanOptions {
  std::string OutputFolder;            // folder of recovered files and work files, trailing '/'
  uint32_t TypeMask = kAllTypesMask;   // selected kinds, one bit each
  double DateFrom = -1.0;              // photo shooting-time range (days since 1899-12-30)
  double DateTo = std::numeric_limits<double>::infinity();
  bool KeepUndatedPhotos = true;
  TCameraMode CameraMode;
  bool FreeSpaceOnly = false;
  // Search every sector and take the cluster grid from where the file starts lie, the
  // geometry set up being the fallback (no cluster size chosen by the user).
  bool GeometryFromData = false;
  // An inventory: every recognition only claims; the files it would write are reported
  // (ScanObserver::OnFileRecovered, under the names they would have had) but not written.
  bool InventoryOnly = false;
  // Threads of the scan: with two or more the search pass reads and classifies on two, and
  // the recovery pass has Threads - 1 workers that check the files it will reach next. The
  // files, claims and reports are the same for every value.
  int32_t Threads = 1;
  // How long the search may go on reading the ranges it skipped after read errors.
  RetryLimits Retries{};
  int32_t ThumbnailPixelLimit = -1;                            // from ThumbSiz.ini
  std::optional<std::vector<int32_t>> ThumbnailSpecialSizes;   // from ThumbSpc.ini
};

// The processors of this machine (at least 1): the front ends' number of Threads.
int32_t ProcessorCount();

// --- Photo shooting-time range --------------------------------------------------------

inline constexpr double kNoDateFrom = -1.0;    // empty start edit: no lower bound
// Empty end edit: no upper bound at all (a fixed far date would drop every photo dated after it).
inline constexpr double kNoDateTo = std::numeric_limits<double>::infinity();
inline constexpr double kInvalidDateEntry = -3.0;

// The program's own messages for a date entry that is not a date, in Simplified Chinese,
// with their English and Traditional Chinese companions for the other two languages.
inline constexpr std::string_view kInvalidPhotoStartText = "拍照起始时间无效!";
inline constexpr std::string_view kInvalidPhotoEndText = "拍照结束时间无效!";
inline constexpr std::string_view kInvalidPhotoStartTextEn = "Invalid photo start date!";
inline constexpr std::string_view kInvalidPhotoEndTextEn = "Invalid photo end date!";
// A start date after the end date would pass no dated photo at all.
inline constexpr std::string_view kPhotoRangeReversedText = "拍照起始时间晚于结束时间!";
inline constexpr std::string_view kPhotoRangeReversedTextEn = "Photo start date is after the end date!";
// The three messages as Traditional Chinese readers write them.
inline constexpr std::string_view kInvalidPhotoStartTextTw = "拍照起始時間無效!";
inline constexpr std::string_view kInvalidPhotoEndTextTw = "拍照結束時間無效!";
inline constexpr std::string_view kPhotoRangeReversedTextTw = "拍照起始時間晚於結束時間!";

// A date entry ("2009-05-01" or "2009/5/1"), blanks around it ignored. Empty gives
// kNoDateFrom, or kNoDateTo for the end entry (isTo); anything else that is not a date
// gives kInvalidDateEntry.
double ParseDateEntry(std::string_view text, bool isTo);
inline bool IsInvalidDateEntry(double value) { return value < -2.0; }

enum class DateRangeCheck { Ok, InvalidFrom, InvalidTo, FromAfterTo };
// The message of a failed check in `language` (empty for Ok).
std::string_view DateRangeCheckText(DateRangeCheck check, Language language);
// Takes the photo range into `options` as a scan start does: the start entry first, then
// the end entry, then KeepUndatedPhotos. Stops at the first invalid entry (values taken
// before it stay taken). Both dates given with the start after the end: FromAfterTo.
DateRangeCheck TakePhotoDateRange(ScanOptions& options, std::string_view fromText,
                                  std::string_view toText, bool keepUndatedPhotos);

// The photo filter: an undated photo (t < 0) passes when KeepUndatedPhotos is set; a dated
// one when it falls on a day from DateFrom to DateTo, both included.
bool PhotoPasses(double t, const ScanOptions& options);

// --- Cluster size ----------------------------------------------------------------------

// "0.5K", "1K", ... "128K": 512 << index bytes.
std::span<const std::string_view> ClusterSizeItems();
// Sectors per cluster of an item; a cluster smaller than a sector counts as one sector.
// 0 for an item that is not in the list or a sector size of 0.
uint32_t SectorsPerClusterForItem(int item, uint32_t sectorSize);
// Index of a cluster-size text ("4K"; case and blanks ignored) or of a byte count ("4096");
// -1 when it is neither.
int ClusterItemForText(std::string_view text);

// --- Camera modes ----------------------------------------------------------------------

// The mode list as shown: "Normal", "Canon .MOV & Panasonic .MP4", "Samsung .MOV ", ...
std::span<const std::string_view> CameraModeItems();
// The flags of an item; an index outside the list is Normal.
TCameraMode CameraModeForItem(int item);
// Command-line names: normal, canon, samsung, sony, ordro (case ignored); -1 when unknown.
int CameraModeItemForName(std::string_view name);

// --- Run state of the recovery passes ---------------------------------------------------

enum RunState : uint8_t { rsRunning = 0, rsPaused = 1, rsStopped = 2 };

// The pause button: down pauses, up resumes. A stopped run stays stopped.
void PauseButtonClick(std::atomic<RunState>& state, bool down);
// The stop button; also ends a pause.
void StopButtonClick(std::atomic<RunState>& state);
// Waits while the run is paused, calling `idle` about every millisecond. True when the run
// may go on, false when it has been stopped.
bool ContinueRun(const std::atomic<RunState>& state, const std::function<void()>& idle = {});

}  // namespace morvane
