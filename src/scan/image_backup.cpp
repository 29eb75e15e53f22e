#include "scan/image_backup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <vector>

#include "scan/free_space_map.h"
#include "scan/read_cache.h"
#include "scan/recovered_file.h"
#include "scan/scan_context.h"
#include "storage/files.h"
#include "storage/streams.h"

namespace morvane {
namespace {

inline constexpr int64_t kChunkBytes = 0x100000;

// Unclaimed sectors from `sector` on, at most one chunk and never past `last`.
int64_t ChunkLength(const ScanContext& scan, int64_t sector, int64_t last) {
  const int64_t maxSectors = kChunkBytes / scan.SectorSize();
  int64_t n = 1;
  while (n < maxSectors && sector + n <= last && !scan.SectorMap.IsSectorClaimed(sector + n)) ++n;
  return n;
}

// Opens the image file for writing. An existing file is checked before anything is cut:
// it must be a regular file and must not be the source (through a link, a hard link or a
// loop device's image). Only then is it emptied.
BackupOutcome OpenImage(const Source& source, const std::string& path, std::unique_ptr<TNTHandleStream>& stream,
                        int& fd, std::string& error) {
  FileIdentity id;
  fd = OpenForWriting(path, id);
  if (fd < 0) {
    error = std::strerror(errno);
    return errno == ENXIO ? BackupOutcome::TargetNotFile : BackupOutcome::WriteFailed;
  }
  BackupOutcome outcome = BackupOutcome::Finished;
  if (source.Kind() != SourceKind::Memory && id.device == source.FileDevice() && id.inode == source.FileInode()) {
    error = "the image file is the source";
    outcome = BackupOutcome::TargetIsSource;
  } else if (!id.regular) {
    error = "not a regular file";
    outcome = BackupOutcome::TargetNotFile;
  } else if (!EmptyFile(fd)) {
    error = std::strerror(errno);
    outcome = IsDiskFull(errno) ? BackupOutcome::DiskFull : BackupOutcome::WriteFailed;
  }
  if (outcome != BackupOutcome::Finished) {
    CloseFile(fd);
    fd = -1;
    return outcome;
  }
  stream = std::make_unique<TNTHandleStream>(fd);
  return outcome;
}

}  // namespace

BackupResult RunImageBackup(Source& source, const BackupRequest& request, const ProgressClock& clock,
                            std::atomic<bool>& SearchStop, BackupObserver& observer) {
  BackupResult r;
  const int64_t first = request.FirstSector, last = request.LastSector;
  r.NextSector = first;
  // Nothing past the range is read: the image is exactly the range (or its free sectors).
  ScanSetup setup{request.ScanGeometry, first, last, {}};
  auto created = ScanContext::Create(source, setup, clock);
  if (created.Error == ScanSetupError::NoMemory) {
    r.Outcome = BackupOutcome::NoMemory;
    return r;
  }
  if (!created.Scan) {
    r.Outcome = BackupOutcome::InvalidRange;
    return r;
  }
  std::unique_ptr<ScanContext> scan = std::move(created.Scan);
  SearchStop = false;

  if (request.FreeSpaceOnly) {
    FreeSpaceResult fs = BuildFreeSpaceMap(source, request.DetectedGeometry, scan->SectorMap, SearchStop,
                                           &scan->Progress, [&](int64_t t, int64_t d) { observer.OnFreeSpaceProgress(t, d); });
    r.FreeSpaceMapBuilt = fs.built;
    if (fs.cancelled) {
      SearchStop = true;
      r.Outcome = BackupOutcome::CancelledCollecting;
      return r;
    }
    if (!fs.built) {
      // No usable map: copy every sector rather than leave out what a half-read map claimed.
      scan = std::move(ScanContext::Create(source, setup, clock).Scan);
      if (!scan) {
        r.Outcome = BackupOutcome::NoMemory;
        return r;
      }
    }
  }

  observer.OnCreatingImage();
  std::unique_ptr<TNTHandleStream> image;
  int fd = -1;
  r.Outcome = OpenImage(source, request.ImagePath, image, fd, r.Error);
  if (r.Outcome != BackupOutcome::Finished) {
    SearchStop = true;
    return r;
  }
  // Listed, so that an abrupt end deletes the unfinished image (unless it is to be kept).
  if (!request.KeepPartial) ListFileInProgress(request.ImagePath);
  // A stopped or failed copy: the observer decides whether the unfinished image goes.
  auto endUnfinished = [&] {
    image.reset();
    if (fd >= 0) CloseFile(fd);
    fd = -1;
    ForgetFileInProgress(request.ImagePath);
    if (observer.DeletePartialImage()) r.ImageDeleted = RemoveFile(request.ImagePath);
    SearchStop = true;
    return r;
  };
  auto failWith = [&](int error) {
    r.Outcome = IsDiskFull(error) ? BackupOutcome::DiskFull : BackupOutcome::WriteFailed;
    r.Error = std::strerror(error);
    return endUnfinished();
  };

  std::vector<uint8_t> chunk(static_cast<size_t>(kChunkBytes));
  const int64_t bps = scan->SectorSize();
  // A chunk that cannot be read is written as zeros and skipped, with the chunks behind it
  // in growing steps; they are read again in shrinking pieces once the rest is copied
  // (bad_areas.h). Where each skipped chunk lies in the image (its sectors are consecutive
  // there, as are those of chunks that touch on the source).
  TRescuePlan plan(std::max<int64_t>(1, kReadCacheWindow / bps), request.Retries);
  std::map<int64_t, int64_t> imageAt;
  auto readInto = [&](int64_t from, int64_t n) {
    const bool ok = source.ReadAt(from * bps, chunk.data(), static_cast<size_t>(n * bps));
    if (ok) scan->BytesRead += n * bps;
    return ok;
  };
  int64_t sector = first, skipEnd = first, skipped = 0;
  while (!SearchStop && sector <= last) {
    if (scan->SectorMap.IsSectorClaimed(sector)) {
      ++sector;
    } else {
      const int64_t n = ChunkLength(*scan, sector, last);
      if (sector >= skipEnd && readInto(sector, n)) {
        plan.ReadWell();
      } else {
        if (sector >= skipEnd) skipEnd = plan.SkipEnd(sector, n);
        plan.Skipped(sector, n);
        imageAt[sector] = r.SectorsWritten;
        skipped += n;
        std::memset(chunk.data(), 0, static_cast<size_t>(n * bps));
      }
      errno = 0;
      if (image->Write(chunk.data(), n * bps) != n * bps) {
        r.NextSector = sector;
        return failWith(errno ? errno : ENOSPC);  // a write that moves nothing: the drive is full
      }
      sector += n;
      r.SectorsWritten += n;
    }
    if (scan->Progress.Due() || sector > last)
      observer.OnBackupProgress(std::min(sector, last), last - first + 1, sector - first, skipped);
  }
  r.NextSector = sector;
  if (sector <= last) {
    r.Outcome = BackupOutcome::Cancelled;
    return endUnfinished();
  }
  // The return pass: a piece read now replaces its zeros. Stop ends it at once; what it has
  // not read stays zeros and is listed.
  SectorSpan piece;
  while (!SearchStop && plan.NextRetry(piece)) {
    const bool ok = readInto(piece.First, piece.Count);
    plan.Retried(ok);
    if (ok) {
      const auto chunkAt = std::prev(imageAt.upper_bound(piece.First));
      const int64_t at = (chunkAt->second + piece.First - chunkAt->first) * bps;
      errno = 0;
      if (image->Seek(at, soBeginning) != at || image->Write(chunk.data(), piece.Count * bps) != piece.Count * bps)
        return failWith(errno ? errno : ENOSPC);
    }
    if (scan->Progress.Due())
      observer.OnBackupProgress(piece.First, last - first + 1, last - first + 1, skipped);
  }
  if (SearchStop) plan.GiveUp();
  r.Unreadable = plan.Unreadable().Spans();
  r.BadSectors = plan.Unreadable().Sectors();
  image.reset();
  // Data the drive could not take after all shows here.
  const bool flushed = FlushAndClose(fd);
  fd = -1;
  if (!flushed) return failWith(errno);
  ForgetFileInProgress(request.ImagePath);
  r.Outcome = r.BadSectors > 0 ? BackupOutcome::FinishedBadSectors : BackupOutcome::Finished;
  SearchStop = true;
  return r;
}

}  // namespace morvane
