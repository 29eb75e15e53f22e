// morvane: the command-line program.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>

#include "app/language.h"
#include "app/startup.h"
#include "app/version.h"
#include "cli/cli.h"

namespace {

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
  app.footer(
      "SOURCE is a raw image file (card.img), a whole disk (/dev/sdb, /dev/nvme0n1, /dev/mmcblk0) or a "
      "partition (/dev/sdb1). Reading devices usually needs root.\nRun 'morvane COMMAND --help' for the "
      "options of a command.");

  int rc = cli::kExitOk;
  app.add_subcommand("drives", "List the disks and partitions of this machine that can be opened.")
      ->callback([&] { rc = cli::RunDrives(); });

  std::string source;
  bool json = false;
  auto* info = app.add_subcommand("info", "Open SOURCE and show what was found: file system, sector size, "
                                          "cluster size and phase, total sectors, the implied loss reason.");
  info->add_option("SOURCE", source, "image file, disk or partition")->required();
  info->add_flag("--json", json, "print one JSON object for scripts");
  info->callback([&] { rc = cli::RunInfo(source, json); });

  int64_t sector = 0, count = 1;
  auto* view = app.add_subcommand("view", "Show sectors of SOURCE as a hex and character dump.");
  view->add_option("SOURCE", source, "image file, disk or partition")->required();
  view->add_option("-s,--sector", sector, "first sector to show (default 0)");
  view->add_option("-n,--count", count, "number of sectors to show (default 1)");
  view->callback([&] { rc = cli::RunView(source, sector, count); });

  std::string types = "all";
  auto* typesCmd = app.add_subcommand("types", "List the file types Morvane recovers, grouped as in the "
                                               "file-type chooser; with --types, mark the selected ones.");
  typesCmd->add_option("-t,--types", types, "comma-separated short names (jpg,png,raw,doc,...) or 'all'");
  typesCmd->callback([&] { rc = cli::RunTypes(types); });

  CLI11_PARSE(app, argc, argv);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return RunCommandLine(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morvane: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "morvane: unexpected failure\n");
  }
  return morvane::cli::kExitFailed;
}
