// morvane: the command-line program.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>
#include <exception>
#include <iostream>

#include "app/language.h"
#include "app/startup.h"
#include "app/version.h"
#include "cli/cli.h"
#include "cli/interrupt.h"
#include "cli/platform.h"

namespace {

constexpr const char* kCommands[] = {"drives", "info", "view", "types", "scan", "backup"};

// Letters to change, add or drop to turn a into b.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// An unknown first word: the command it most likely meant, or nothing when none is close.
std::string SuggestCommand(const std::string& word) {
  std::string best;
  size_t bestDistance = 3;
  for (const char* c : kCommands) {
    size_t d = EditDistance(word, c);
    // Swapped neighbours ("scna") count as one slip.
    if (word.size() == std::string(c).size())
      for (size_t i = 0; i + 1 < word.size(); ++i) {
        std::string w = word;
        std::swap(w[i], w[i + 1]);
        if (w == c) d = 1;
      }
    if (d < bestDistance) bestDistance = d, best = c;
  }
  return best;
}

// A command line that could not be parsed: the word at fault and where the options are
// described, then the usage status. An unknown option is named even when a required one
// is missing too (the parser reports the missing one first).
// After a read error the scan and the backup read the good areas first and come back to the
// skipped ranges at the end; these bound that return pass.
void AddRetryOptions(CLI::App& command, morvane::RetryLimits& limits) {
  command.add_option("--max-retries", limits.ExtraPasses, "after a read error: how many more times to try each sector "
                                                          "that still fails when the skipped ranges are read again "
                                                          "(default 0: once)")
      ->check(CLI::Range(0, morvane::kMaxExtraPasses));
  command.add_option("--retry-time", limits.Seconds, "the most seconds to spend reading the skipped ranges again "
                                                     "(default: no limit; 0: do not read them again); what is left "
                                                     "is listed as unreadable")
      ->check(CLI::Range(0.0, 1e9));
}

int ReportUsageError(CLI::App& app, const CLI::ParseError& e) {
  std::string command = "morvane";
  std::string unknown;
  for (CLI::App* sub : app.get_subcommands()) {
    command += " " + sub->get_name();
    for (const std::string& word : sub->remaining())
      if (unknown.empty() && word.size() > 1 && word[0] == '-') unknown = word;
  }
  for (const std::string& word : app.remaining())
    if (unknown.empty() && word.size() > 1 && word[0] == '-') unknown = word;
  if (!unknown.empty())
    std::cerr << command << ": unknown option '" << unknown << "'\n";
  else
    std::cerr << command << ": " << e.what() << "\n";
  std::cerr << "Run '" << command << " --help' for the options.\n";
  return morvane::cli::kExitUsage;
}

constexpr const char* kExitStatusFooter =
    "Exit status: 0 done, every output written; 1 refused or could not start (source, folder, dates); 2 wrong "
    "command line; 3 the branding file Morvane.dll missing or broken; 4 ran, but some output was lost; 5 the "
    "output could not be used at all; 130 stopped by Ctrl-C, SIGTERM or SIGHUP.";

int RunCommandLine(int argc, char** argv) {
  using namespace morvane;
  InitFace(LanguageFromEnvironment());
  StartupResult startup = RunStartup(ProgramFolder());
  if (!startup.ok) {
    std::cerr << FaceTexts().Text(kBrandingErrorText) << "\n";
    return cli::kExitStartup;
  }

  CLI::App app{"Morvane finds lost photos, videos, documents and archives on a disk, a partition or a raw "
               "disk image by their content, and copies them into a folder on another drive. Sources are "
               "only ever read.",
               "morvane"};
  app.set_version_flag("--version", std::string("morvane ") + std::string(kMorvaneVersion));
  app.require_subcommand(1);
  app.footer(std::string(morvane::cli::kSourceHelp) + "\nRun 'morvane COMMAND --help' for the options of a command.\n" +
             kExitStatusFooter);

  if (argc > 1 && argv[1][0] != '-') {
    std::string word = argv[1];
    if (std::find(std::begin(kCommands), std::end(kCommands), word) == std::end(kCommands)) {
      std::string guess = SuggestCommand(word);
      std::cerr << "morvane: unknown command '" << word << "'."
                << (guess.empty() ? std::string() : " Did you mean '" + guess + "'?") << "\n"
                << "Commands: drives, info, view, types, scan, backup. Run 'morvane --help' for more.\n";
      return cli::kExitUsage;
    }
  }

  int rc = cli::kExitOk;
  app.add_subcommand("drives", "List the disks and partitions of this machine that can be opened.")
      ->callback([&] { rc = cli::RunDrives(); })
      ->footer("Use a path from the second column as SOURCE of info, view, scan or backup.");

  std::string source;
  bool json = false;
  auto* info = app.add_subcommand("info", "Open SOURCE and show what was found: file system, sector size, "
                                          "cluster size and phase, total sectors, the implied loss reason.");
  info->add_option("SOURCE", source, "image file, disk or partition")->required();
  info->add_flag("--json", json, "print one JSON object for scripts");
  info->footer(morvane::cli::kSourceHelp);
  info->callback([&] { rc = cli::RunInfo(source, json); });

  int64_t sector = 0, count = 1;
  auto* view = app.add_subcommand("view", "Show sectors of SOURCE as a hex and character dump.");
  view->add_option("SOURCE", source, "image file, disk or partition")->required();
  view->add_option("-s,--sector", sector, "first sector to show (default 0)");
  view->add_option("-n,--count", count, "number of sectors to show (default 1)");
  view->footer(morvane::cli::kSourceHelp);
  view->callback([&] { rc = cli::RunView(source, sector, count); });

  std::string types = "all";
  auto* typesCmd = app.add_subcommand("types", "List the file types Morvane recovers, grouped as in the "
                                               "file-type chooser; with --types, mark the selected ones.");
  typesCmd->add_option("-t,--types", types, "comma-separated short names (jpg,png,raw,doc,...), common names "
                                            "(jpeg, tiff, cr2, mpeg, m2ts, docx, xlsx, pptx, 7zip, pdf, ...), groups "
                                            "(photo, raw, video, audio, document, archive, drawing) or 'all'");
  typesCmd->footer("The names given to scan --types are the same.");
  typesCmd->callback([&] { rc = cli::RunTypes(types); });

  cli::ScanCommandOptions so;
  for (int i = 0; i < argc; ++i) so.commandLine += (i ? " " : "") + std::string(argv[i]);
  auto* scan = app.add_subcommand("scan", "Deep scan: find lost files on SOURCE by their content and write them "
                                          "into FOLDER (which must be on another drive).");
  scan->add_option("SOURCE", so.source, "image file, disk or partition")->required();
  scan->add_option("-o,--output", so.folder, "folder for the recovered files (created when missing)");
  scan->add_flag("--inventory", so.inventory, "write no files: list what the scan would recover (a table by kind, "
                                              "or --report / --dfxml), without -o");
  scan->add_flag("--hash", so.hash, "with --inventory: also the SHA-256 of each file (reads its bytes)");
  scan->add_option("--reason", so.reason, "why the files were lost: deleted (use the detected file system), "
                                          "formatted or repartitioned (choose --fs and --cluster)")
      ->check(CLI::IsMember({"deleted", "formatted", "repartitioned"}));
  scan->add_option("--fs", so.fs, "the file system the files were on: fat, fat32, ntfs, exfat, hfs, hfs+, other")
      ->check(CLI::IsMember({"fat", "fat32", "ntfs", "exfat", "hfs", "hfs+", "other"}));
  scan->add_option("--cluster", so.cluster, "cluster size: 0.5K 1K 2K 4K 8K 16K 32K 64K 128K");
  scan->add_option("--geometry", so.geometry, "auto (the default without --cluster): take the cluster grid from "
                                              "where the files found lie; fixed: the file system's or the one chosen")
      ->check(CLI::IsMember({"auto", "fixed"}));
  scan->add_option("--first", so.first, "first sector of the scan range (default 0)");
  scan->add_option("--last", so.last, "last sector of the scan range (default the source's last)");
  scan->add_option("-t,--types", so.types, "kinds to recover, by short name (jpg,png,raw,mp4,doc,...) or common "
                                           "name (jpeg, heif, tiff, cr3, webm, mpeg, m2ts, docx, odt, epub, 7zip, rar5, ...), group (photo, "
                                           "raw, video, audio, document, archive, drawing), or 'all'; see 'morvane types'");
  scan->add_option("--photo-from", so.photoFrom, "recover photos taken on or after this day (YYYY-MM-DD)");
  scan->add_option("--photo-to", so.photoTo, "recover photos taken on or before this day (YYYY-MM-DD)");
  scan->add_flag("--no-undated", so.noUndated, "leave out photos that carry no shooting time");
  scan->add_option("--camera", so.camera, "camera mode: normal, canon (Canon .MOV & Panasonic .MP4), samsung, "
                                          "sony (.MOV), ordro (.AVI)")
      ->check(CLI::IsMember({"normal", "canon", "samsung", "sony", "ordro"}));
  scan->add_flag("--free-space-only", so.freeSpaceOnly, "search only the sectors the file system marks free");
  scan->add_option("--on-write-error", so.onWriteError, "when a recovered file cannot be written: ask (when "
                                                        "standard input is a terminal, else abort), abort, retry (up to 5 "
                                                        "times, a second apart, then abort), ignore")
      ->check(CLI::IsMember({"ask", "abort", "retry", "ignore"}));
  scan->add_option("--dfxml", so.dfxml, "write a DFXML report as the scan goes: every recovered file with its "
                                        "byte runs on the source and SHA-256");
  scan->add_option("--report", so.report, "write a JSON report: the totals (files and bytes by kind) and every "
                                          "recovered file with its sectors and SHA-256");
  scan->add_flag("--resume", so.resume, "continue the scan that was stopped or cut off in FOLDER (the same SOURCE "
                                        "and options): the folder keeps where it stood in morvane-scan.state");
  scan->add_option("--threads", so.threads, "threads of the scan: the search reads on two, the pictures found are checked "
                                           "on all, and large files (streams and PDFs walked as well) are copied from an "
                                           "image while the search reads on, on one thread then (default: one per processor; 1 does all the "
                                           "work on one thread); the "
                                           "files and reports are the same for every number")
      ->check(CLI::Range(1, 256));
  AddRetryOptions(*scan, so.retries);
  scan->add_flag("-q,--quiet", so.quiet, "no progress display and no closing summary");
  scan->add_flag("-v,--verbose", so.verbose, "also show the cluster-phase vote and each file being copied");
  scan->footer(std::string(morvane::cli::kSourceHelp) +
               "\nFOLDER is created when it does not exist (one level: its parent must exist).");
  scan->callback([&] { rc = cli::RunScanCommand(so); });

  cli::BackupCommandOptions bo;
  auto* backup = app.add_subcommand("backup", "Copy SOURCE (or a sector range of it, or only its free sectors) "
                                              "into a raw image file on another drive.");
  backup->add_option("SOURCE", bo.source, "image file, disk or partition")->required();
  backup->add_option("IMAGE", bo.image, "the image file to write")->required();
  backup->add_option("--first", bo.first, "first sector to copy (default 0)");
  backup->add_option("--last", bo.last, "last sector to copy (default the source's last)");
  backup->add_flag("--free-space-only", bo.freeSpaceOnly, "copy only the sectors the file system marks free");
  backup->add_flag("--keep-partial", bo.keepPartial, "keep the unfinished image when stopped (Ctrl-C, SIGTERM, "
                                                  "SIGHUP) or when the image's drive is full");
  AddRetryOptions(*backup, bo.retries);
  backup->add_flag("-q,--quiet", bo.quiet, "no progress display");
  backup->footer(morvane::cli::kSourceHelp);
  backup->callback([&] { rc = cli::RunBackupCommand(bo); });

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    return ReportUsageError(app, e);
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  morvane::cli::BlockInterrupts();
  try {
    std::vector<std::string> args = morvane::cli::ProgramArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return RunCommandLine(static_cast<int>(args.size()), pointers.data());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morvane: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "morvane: unexpected failure\n");
  }
  return morvane::cli::kExitFailed;
}
