// A real FAT32 volume image for whole-scan tests: made by mkfs.fat, with files written,
// deleted and fragmented by mtools (tests that use it skip when the tools are missing).
#pragma once

#include <algorithm>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "formats/recognisers.h"
#include "scan/scan_driver.h"
#include "storage/partition.h"
#include "support/test_support.h"

namespace morvane::test {

class FatVolume {
 public:
  FatVolume() : image_(dir_ / "vol.img") {
    made_ = Run("truncate -s 72M IMG && mkfs.fat -F 32 -s 2 IMG >/dev/null 2>&1") == 0;
  }
  bool Made() const { return made_; }
  const std::string& Image() const { return image_; }

  // Copies the files in this order: mtools gives each the first free clusters after the
  // previous one, or, when the end of the volume is reached, the first free ones from the
  // start (which is how a file comes to fill the holes that deletions left).
  bool Put(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    std::string names;
    for (const auto& [name, bytes] : files) {
      WriteFileBytes(dir_ / name, bytes);
      names += " " + dir_ / name;
    }
    return Run("mcopy -i IMG" + names + " ::") == 0;
  }
  bool Delete(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& n : names) list += " ::" + n;
    return Run("mdel -i IMG" + list) == 0;
  }
  // Fills the rest of the volume with one file of zeros.
  bool Fill(const std::string& name) {
    if (Run("mdir -i IMG :: > " + dir_ / "mdir.txt") != 0) return false;
    const std::vector<uint8_t> listing = ReadFileBytes(dir_ / "mdir.txt");
    std::smatch m;
    std::string text(listing.begin(), listing.end());
    if (!std::regex_search(text, m, std::regex("([0-9 ]+) bytes free"))) return false;
    std::string digits = m[1];
    digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
    return Put({{name, std::vector<uint8_t>(std::stoull(digits), 0)}});
  }
  // The runs of clusters a file occupies, as mshowfat lists them.
  std::vector<std::pair<int64_t, int64_t>> Clusters(const std::string& name) {
    std::vector<std::pair<int64_t, int64_t>> runs;
    if (Run("mshowfat -i IMG ::" + name + " > " + dir_ / "fat.txt") != 0) return runs;
    const std::vector<uint8_t> out = ReadFileBytes(dir_ / "fat.txt");
    const std::string text(out.begin(), out.end());
    const std::regex run("<([0-9]+)(-([0-9]+))?>");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), run); it != std::sregex_iterator(); ++it) {
      const int64_t first = std::stoll((*it)[1]);
      runs.emplace_back(first, (*it)[3].matched ? std::stoll((*it)[3]) : first);
    }
    return runs;
  }

 private:
  int Run(std::string command) {
    for (size_t p; (p = command.find("IMG")) != std::string::npos;) command.replace(p, 3, image_);
    return test::Run("MTOOLS_SKIP_CHECK=1 " + command);
  }

  TempDir dir_;
  std::string image_;
  bool made_ = false;
};

struct VolumeScan {
  ScanReport report;
  std::map<std::string, std::vector<uint8_t>> files;  // recovered files by name
};

// A whole scan of the volume image with every recogniser (free space only when asked).
inline VolumeScan ScanVolume(const std::string& image, bool freeSpaceOnly) {
  PartitionModel model;
  EXPECT_TRUE(model.OpenImage(image).Ok());
  TempDir out;
  ScanSetup setup;
  setup.Geometry = model.ScanGeometry();
  setup.LastSector = setup.Geometry.PartitionLastSector;
  setup.Options.OutputFolder = out.path().string() + "/";
  setup.Options.FreeSpaceOnly = freeSpaceOnly;
  ProgressClock clock;
  auto scan = ScanContext::Create(*model.SourceHandle(), setup, clock).Scan;
  VolumeScan r;
  r.report = RunScan(*scan, model.DetectedGeometry(), DefaultRecognisers());
  for (const auto& entry : std::filesystem::directory_iterator(out.path()))
    r.files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
  return r;
}

inline bool HaveFatTools() { return HaveTool("mkfs.fat") && HaveTool("mcopy") && HaveTool("mshowfat"); }

}  // namespace morvane::test
