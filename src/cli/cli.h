// The command-line front end: shared pieces of the commands.
#pragma once

#include <string>

#include "app/startup.h"
#include "scan/bad_areas.h"
#include "storage/partition.h"

namespace morvane::cli {

// Exit statuses (the README lists them).
inline constexpr int kExitOk = 0;              // ran to its end, every requested output written
inline constexpr int kExitFailed = 1;          // refused or could not start: options, source, outputs
inline constexpr int kExitUsage = 2;           // the command line is wrong: unknown command or option, missing
                                               // argument, a value that is not one of the option's choices
inline constexpr int kExitStartup = 3;         // the branding file is missing or broken
inline constexpr int kExitWriteFailed = 4;     // ran, but a recovered file, the report or the image was not written
inline constexpr int kExitOutputUnusable = 5;  // the output could not be created at all (work files, image file)
inline constexpr int kExitStopped = 130;       // stopped by Ctrl-C, SIGTERM or SIGHUP

// Prints language text `textId` (and an optional detail line) to stderr; returns kExitFailed.
int Fail(int textId, const std::string& detail = {});
// Prints a message of the program's own to stderr; returns kExitFailed.
int FailText(const std::string& text);
// Prints what is wrong with an option's value to stderr; returns kExitUsage.
int UsageError(const std::string& text);

// Opens SOURCE in `model`: a block device as a drive, anything else as an image file.
// Prints the failure (with a hint to run as root for devices) and returns false on error.
bool OpenForCommand(PartitionModel& model, const std::string& path);

int RunDrives();
int RunInfo(const std::string& path, bool json);
int RunView(const std::string& path, int64_t sector, int64_t count);
int RunTypes(const std::string& typeList);

struct ScanCommandOptions {
  std::string source, folder;
  std::string reason, fs, cluster;  // empty: as detected
  std::string geometry;             // auto, fixed; empty: auto unless --cluster is given
  std::string first, last;          // empty: the whole source
  std::string types = "all";
  std::string photoFrom, photoTo;   // empty: no limit
  bool noUndated = false;
  std::string camera = "normal";
  bool freeSpaceOnly = false;
  std::string onWriteError = "ask";
  std::string report;
  std::string dfxml;        // DFXML report, written as the scan goes
  bool inventory = false;   // no output folder: only claim, and report what would be recovered
  bool resume = false;      // continue the scan whose state the output folder keeps
  bool hash = false;        // an inventory's SHA-256 of each file, read from the source
  std::string commandLine;  // as typed, for the reports
  bool quiet = false;
  bool verbose = false;  // also the bookkeeping steps and the file being copied
  int threads = 0;       // threads that check contents; 0: one per processor
  RetryLimits retries;   // --max-retries, --retry-time
};
int RunScanCommand(const ScanCommandOptions& options);

struct BackupCommandOptions {
  std::string source, image;
  std::string first, last;
  bool freeSpaceOnly = false;
  bool keepPartial = false;
  bool quiet = false;
  RetryLimits retries;
};
int RunBackupCommand(const BackupCommandOptions& options);

}  // namespace morvane::cli
