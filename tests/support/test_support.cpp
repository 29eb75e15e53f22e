#include "support/test_support.h"

#include <filesystem>
#include <regex>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

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

}  // namespace morvane::test
