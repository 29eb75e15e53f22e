#include "support/test_support.h"

#include <chrono>

#include <filesystem>
#include <regex>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "storage/files.h"

namespace morvane::test {
namespace {

#ifdef _WIN32
// Windows gives the command's exit code itself; the tools the tests use are Linux tools.
int ExitStatus(int rc) { return rc; }
int ProcessId() { return _getpid(); }
FILE* StartReading(const std::string& command) { return _popen(command.c_str(), "r"); }
int Finish(FILE* p) { return _pclose(p); }
#else
int ExitStatus(int rc) { return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1; }
int ProcessId() { return ::getpid(); }
FILE* StartReading(const std::string& command) { return popen(command.c_str(), "r"); }
int Finish(FILE* p) { return pclose(p); }
#endif

}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("morvane-test-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++) +
                    "-" + std::to_string(rd() % 100000));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot read " + path);
  // One read of the whole file: a byte-wise copy takes seconds for large files in the
  // sanitizer build.
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    throw std::runtime_error("cannot read " + path);
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool WriteSparseImage(const std::string& path, int64_t size,
                      const std::vector<std::pair<int64_t, std::vector<uint8_t>>>& pieces) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size), ec);
  if (ec) return false;
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  for (const auto& [offset, bytes] : pieces) {
    out.seekp(offset);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  return static_cast<bool>(out.flush());
}

int Run(const std::string& command) {
  return ExitStatus(std::system(command.c_str()));
}

int RunCapturing(const std::string& command, std::string& out) {
  FILE* p = StartReading(command);
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return ExitStatus(Finish(p));
}

FileTime ModifiedTime(const std::string& path) {
  using namespace std::chrono;
  const auto written = file_clock::to_sys(std::filesystem::last_write_time(Utf8Path(path)));
  const int64_t ns = duration_cast<nanoseconds>(written.time_since_epoch()).count();
  const int64_t seconds = ns / 1000000000 - (ns % 1000000000 < 0);
  return {seconds, static_cast<long>(ns - seconds * 1000000000)};
}

long PeakResidentKiB() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
#endif
}

void SetEnvironment(const std::string& name, const char* value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value ? value : "");  // an empty value removes it
#else
  if (value) setenv(name.c_str(), value, 1); else unsetenv(name.c_str());
#endif
}

#ifdef _WIN32
bool CanLimitFileSize() { return false; }
bool CanSetTimeZone() { return false; }
void WithFileSizeLimit(int64_t, const std::function<void()>&) { throw std::logic_error("no file-size limit here"); }
void InTimeZone(const std::string&, const std::function<void()>&) { throw std::logic_error("no POSIX time zones here"); }
#else
bool CanLimitFileSize() { return true; }
bool CanSetTimeZone() { return true; }

void WithFileSizeLimit(int64_t bytes, const std::function<void()>& body) {
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = static_cast<rlim_t>(bytes);
  setrlimit(RLIMIT_FSIZE, &small);
  body();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, handler);
}

void InTimeZone(const std::string& tz, const std::function<void()>& body) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  SetEnvironment("TZ", tz.c_str());
  tzset();
  body();
  SetEnvironment("TZ", old ? saved.c_str() : nullptr);
  tzset();
}
#endif

bool HaveTool(const std::string& tool) {
#ifdef _WIN32
  return false;
#endif
  return Run("PATH=$PATH:/sbin:/usr/sbin command -v " + tool + " >/dev/null 2>&1") == 0;
}

bool HoldsOnlyResumeState(const std::string& folder) {
  const std::regex kept("morvane-scan\\.(state|journal)|FILE(STAR|TYPE)(_[0-9]+)?\\.TMP");
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (!std::regex_match(e.path().filename().string(), kept)) return false;
  return true;
}

std::string DataPath(const std::string& name) { return std::string(MORVANE_TEST_DATA) + "/" + name; }

std::string SampleCardImage() { return std::string(MORVANE_SOURCE_DIR) + "/samples/card.img.xz"; }

std::vector<uint8_t> SampleCardBytes() {
  const std::string unpacked = std::string(MORVANE_SOURCE_DIR) + "/samples/card.img";
  if (std::filesystem::exists(unpacked)) return ReadFileBytes(unpacked);
  std::string out;
  if (!HaveTool("xz") || RunCapturing("xz -dc " + SampleCardImage(), out) != 0) return {};
  return {out.begin(), out.end()};
}

}  // namespace morvane::test
