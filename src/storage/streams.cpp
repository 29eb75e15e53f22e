#include "storage/streams.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace morvane {

int64_t TNTHandleStream::Size() {
  int64_t here = FileSeek64(handle_, soCurrent, 0);
  int64_t size = FileSeek64(handle_, soEnd, 0);
  FileSeek64(handle_, soBeginning, here);
  return size;
}

int64_t TNTHandleStream::Position() { return FileSeek64(handle_, soCurrent, 0); }

void TNTHandleStream::SetPosition(int64_t position) { FileSeek64(handle_, soBeginning, position); }

std::unique_ptr<TNewFileStream> OpenOutputFileStream(const std::string& fileName, uint16_t mode) {
  auto stream = std::make_unique<TNewFileStream>(fileName, mode);
  if (stream->FileHandle() == -1) return nullptr;
  return stream;
}

int64_t MemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ < 0 || position_ >= Size()) return 0;
  int64_t n = std::min(count, Size() - position_);
  std::copy_n(bytes_.data() + position_, n, static_cast<uint8_t*>(buffer));
  position_ += n;
  return n;
}

int64_t MemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  if (position_ + count > Size()) bytes_.resize(static_cast<size_t>(position_ + count));
  std::copy_n(static_cast<const uint8_t*>(buffer), count, bytes_.data() + position_);
  position_ += count;
  return count;
}

bool LoadFileToStream(MemoryStream& stream, const std::string& fileName) {
  std::unique_ptr<TNewFileStream> file;
  for (int attempt = 0; attempt < 11; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    file = std::make_unique<TNewFileStream>(fileName, fmOpenRead | fmShareDenyWrite);
    if (file->FileHandle() != -1) break;
    file.reset();
  }
  if (!file) return false;
  int64_t size = file->Size();
  if (size < 0) size = 0;
  stream.SetSize(size);
  file->SetPosition(0);
  int64_t got = size > 0 ? file->Read(stream.Bytes().data(), size) : 0;
  stream.SetSize(got);  // a file that shrank while being read keeps what was read
  stream.SetPosition(0);
  return true;
}

bool LoadListFromFile(std::vector<std::string>& lines, const std::string& fileName) {
  MemoryStream stream;
  if (!LoadFileToStream(stream, fileName)) return false;
  lines.clear();
  const auto& b = stream.Bytes();
  std::string line;
  for (size_t i = 0; i < b.size(); ++i) {
    char c = static_cast<char>(b[i]);
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < b.size() && b[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return true;
}

std::string ReadNulString(MemoryStream& stream) {
  std::string s;
  const auto& b = stream.Bytes();
  int64_t p = stream.Position();
  if (p < 0) return s;
  while (p < stream.Size() && b[static_cast<size_t>(p)] != 0) s += static_cast<char>(b[static_cast<size_t>(p++)]);
  if (p < stream.Size()) ++p;  // step over the NUL
  stream.SetPosition(p);
  return s;
}

std::string FormatPercent(int64_t total, int64_t done) {
  // Hundredths of a percent; a total of 0 (an empty range) shows as complete.
  int64_t v = total > 0 ? static_cast<int64_t>(static_cast<__int128>(done) * 10000 / total) : 10000;
  std::string t = std::to_string(v);
  while (t.size() < 3) t.insert(t.begin(), '0');
  t.insert(t.size() - 2, ".");
  return t + "%";
}

std::string FormatDiskSize(int64_t bytes) {
  auto h = static_cast<uint64_t>((static_cast<unsigned __int128>(static_cast<uint64_t>(bytes)) * 100 + 0x80000) /
                                 0x100000);
  std::string unit = "MB";
  if (h >= 102400) {
    h = (h + 512) / 1024;
    unit = "GB";
  }
  std::string t = std::to_string(h);
  // The dot goes before the last two digits; with fewer than three digits it leads.
  t.insert(t.size() >= 2 ? t.size() - 2 : 0, ".");
  return t + unit;
}

}  // namespace morvane
