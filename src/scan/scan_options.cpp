#include "scan/scan_options.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/text_lines.h"
#include "filetypes/catalogue.h"
#include "scan/datetime.h"
#include "storage/partition.h"

namespace morvane {

static_assert(kAllTypesMask == kAllFileTypesMask);

int32_t ProcessorCount() { return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())); }

namespace {

constexpr std::string_view kCameraModeItems[] = {
    "Normal", "Canon .MOV & Panasonic .MP4", "Samsung .MOV ", "Sony .MOV ", "Ordro .AVI "};

constexpr std::string_view kCameraModeNames[] = {"normal", "canon", "samsung", "sony", "ordro"};

// Reads 1..maxDigits decimal digits from the front of `text`; -1 when there are none.
int TakeNumber(std::string_view& text, size_t maxDigits) {
  size_t n = 0;
  int value = 0;
  while (n < text.size() && n < maxDigits && text[n] >= '0' && text[n] <= '9')
    value = value * 10 + (text[n++] - '0');
  if (n == 0) return -1;
  text.remove_prefix(n);
  return value;
}

// "YYYY-M-D" or "YYYY/M/D" (months and days with one or two digits).
std::optional<double> ParseIsoDate(std::string_view text) {
  if (text.size() < 8 || text.size() > 10) return std::nullopt;
  std::string_view rest = text;
  int year = TakeNumber(rest, 4);
  if (text.size() - rest.size() != 4 || rest.empty()) return std::nullopt;
  char separator = rest.front();
  if (separator != '-' && separator != '/') return std::nullopt;
  rest.remove_prefix(1);
  int month = TakeNumber(rest, 2);
  if (rest.empty() || rest.front() != separator) return std::nullopt;
  rest.remove_prefix(1);
  int day = TakeNumber(rest, 2);
  if (!rest.empty()) return std::nullopt;
  return EncodeDate(year, month, day);
}

}  // namespace

double ParseDateEntry(std::string_view text, bool isTo) {
  text = TrimBlanks(text);
  if (text.empty()) return isTo ? kNoDateTo : kNoDateFrom;
  return ParseIsoDate(text).value_or(kInvalidDateEntry);
}

DateRangeCheck TakePhotoDateRange(ScanOptions& options, std::string_view fromText,
                                  std::string_view toText, bool keepUndatedPhotos) {
  options.DateFrom = ParseDateEntry(fromText, false);
  if (IsInvalidDateEntry(options.DateFrom)) return DateRangeCheck::InvalidFrom;
  options.DateTo = ParseDateEntry(toText, true);
  if (IsInvalidDateEntry(options.DateTo)) return DateRangeCheck::InvalidTo;
  if (options.DateFrom > options.DateTo) return DateRangeCheck::FromAfterTo;
  options.KeepUndatedPhotos = keepUndatedPhotos;
  return DateRangeCheck::Ok;
}

bool PhotoPasses(double t, const ScanOptions& options) {
  if (t < 0) return options.KeepUndatedPhotos;
  return options.DateFrom <= t && t < options.DateTo + 1;
}

std::span<const std::string_view> ClusterSizeItems() { return kClusterSizeItems; }

uint32_t SectorsPerClusterForItem(int item, uint32_t sectorSize) {
  if (item < 0 || item >= static_cast<int>(std::size(kClusterSizeItems)) || sectorSize == 0)
    return 0;
  uint32_t sectors = (512u << item) / sectorSize;
  return sectors == 0 ? 1 : sectors;
}

int ClusterItemForText(std::string_view text) {
  text = TrimBlanks(text);
  for (size_t i = 0; i < std::size(kClusterSizeItems); ++i)
    if (EqualsIgnoringCase(text, kClusterSizeItems[i])) return static_cast<int>(i);
  // A byte count: "512", "4096".
  std::string_view rest = text;
  int bytes = TakeNumber(rest, 6);
  if (bytes > 0 && rest.empty())
    for (size_t i = 0; i < std::size(kClusterSizeItems); ++i)
      if (bytes == (512 << i)) return static_cast<int>(i);
  return -1;
}

std::span<const std::string_view> CameraModeItems() { return kCameraModeItems; }

TCameraMode CameraModeForItem(int item) {
  TCameraMode mode;
  mode.CanonPanasonic = item == 1;
  mode.Samsung = item == 2;
  mode.Sony = item == 3;
  mode.Ordro = item == 4;
  return mode;
}

int CameraModeItemForName(std::string_view name) {
  name = TrimBlanks(name);
  for (size_t i = 0; i < std::size(kCameraModeNames); ++i)
    if (EqualsIgnoringCase(name, kCameraModeNames[i])) return static_cast<int>(i);
  return -1;
}

void PauseButtonClick(std::atomic<RunState>& state, bool down) {
  RunState expected = down ? rsRunning : rsPaused;
  state.compare_exchange_strong(expected, down ? rsPaused : rsRunning);
}

void StopButtonClick(std::atomic<RunState>& state) { state.store(rsStopped); }

bool ContinueRun(const std::atomic<RunState>& state, const std::function<void()>& idle) {
  while (state.load() == rsPaused) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (idle) idle();
  }
  return state.load() != rsStopped;
}

std::string_view DateRangeCheckText(DateRangeCheck check, Language language) {
  const bool en = language == Language::English, tw = language == Language::TraditionalChinese;
  switch (check) {
    case DateRangeCheck::InvalidFrom: return en ? kInvalidPhotoStartTextEn : tw ? kInvalidPhotoStartTextTw : kInvalidPhotoStartText;
    case DateRangeCheck::InvalidTo: return en ? kInvalidPhotoEndTextEn : tw ? kInvalidPhotoEndTextTw : kInvalidPhotoEndText;
    case DateRangeCheck::FromAfterTo:
      return en ? kPhotoRangeReversedTextEn : tw ? kPhotoRangeReversedTextTw : kPhotoRangeReversedText;
    case DateRangeCheck::Ok: break;
  }
  return {};
}

}  // namespace morvane
