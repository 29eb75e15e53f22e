// Helpers shared by the test binaries: scratch folders, files and external tools.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace morvane::test {

// A fresh folder under the system's temp dir, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command; returns its exit status (output goes to the test log).
int Run(const std::string& command);
// Runs a shell command and collects its standard output into `out`; returns its exit
// status, or -1 when it could not be started or was killed by a signal.
int RunCapturing(const std::string& command, std::string& out);
// True when `tool` is found on PATH (or in /sbin, /usr/sbin).
bool HaveTool(const std::string& tool);

// Path of a file under tests/data.
std::string DataPath(const std::string& name);
// True when the folder holds nothing but what a stopped scan keeps to be continued (its
// state, journal and stream work files).
bool HoldsOnlyResumeState(const std::string& folder);
// Path of the bundled sample card image (xz-compressed).
std::string SampleCardImage();

}  // namespace morvane::test
