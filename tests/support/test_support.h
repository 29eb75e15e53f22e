// Helpers shared by the test binaries: scratch folders, files and external tools.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
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
// Whether image files copy into files in the kernel on this system, as copies made ahead
// need (not on Windows).
#ifdef _WIN32
inline constexpr bool kImagesCopyIntoFiles = false;
#else
inline constexpr bool kImagesCopyIntoFiles = true;
#endif

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Makes a file of `size` bytes, sparse where the system allows, with each piece's bytes at
// its offset; false when it could not.
bool WriteSparseImage(const std::string& path, int64_t size,
                      const std::vector<std::pair<int64_t, std::vector<uint8_t>>>& pieces);
// A file's modification time as seconds and nanoseconds since 1970, UTC.
struct FileTime {
  int64_t seconds = 0;
  long nanoseconds = 0;
};
FileTime ModifiedTime(const std::string& path);
// The process's peak resident memory, to show that a walk holds little.
long PeakResidentKiB();

// Runs a shell command; returns its exit status (output goes to the test log).
int Run(const std::string& command);
// Runs a shell command and collects its standard output into `out`; returns its exit
// status, or -1 when it could not be started or was killed by a signal.
int RunCapturing(const std::string& command, std::string& out);
// True when `tool` is found on PATH (or in /sbin, /usr/sbin).
bool HaveTool(const std::string& tool);

// Sets an environment variable of this process; a null value removes it.
void SetEnvironment(const std::string& name, const char* value);

// Whether this system can limit the size of the files a process writes and take a POSIX time
// zone rule from TZ (Linux can, Windows cannot); the tests that need it skip where it cannot.
bool CanLimitFileSize();
bool CanSetTimeZone();
// Runs body while files above `bytes` are refused to this process.
void WithFileSizeLimit(int64_t bytes, const std::function<void()>& body);
// Runs body in the time zone of the POSIX rule `tz` (say "CET-1CEST,M3.5.0,M10.5.0/3").
void InTimeZone(const std::string& tz, const std::function<void()>& body);

// Path of a file under tests/data.
std::string DataPath(const std::string& name);
// True when the folder holds nothing but what a stopped scan keeps to be continued (its
// state, journal and stream work files).
bool HoldsOnlyResumeState(const std::string& folder);
// Path of the bundled sample card image (xz-compressed).
std::string SampleCardImage();
// The sample card's bytes: samples/card.img when `make` has unpacked it, else unpacked here
// with xz; empty when neither can be had.
std::vector<uint8_t> SampleCardBytes();

}  // namespace morvane::test
