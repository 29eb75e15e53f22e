#include "storage/sector_viewer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace morvane {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kBytesPerLine = 32;
constexpr int64_t kPageSectors = 10;

void AppendHexByte(std::string& out, uint8_t v) {
  out += kHexDigits[v >> 4];
  out += kHexDigits[v & 0x0F];
}

// Upper-case hex, zero-padded to at least three digits.
void AppendOffset(std::string& out, uint64_t offset) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = kHexDigits[offset & 0x0F];
    offset >>= 4;
  } while (offset != 0);
  for (int i = n; i < 3; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

void AppendDumpLine(std::string& out, const uint8_t* line, uint64_t offset) {
  AppendOffset(out, offset);
  out += ": ";
  for (size_t i = 0; i < kBytesPerLine; i += 2) {
    AppendHexByte(out, line[i]);
    AppendHexByte(out, line[i + 1]);
    out += ' ';
  }
  for (size_t i = 0; i < kBytesPerLine; ++i)
    out += (line[i] >= 0x20 && line[i] <= 0x7E) ? static_cast<char>(line[i]) : '.';
}

}  // namespace

std::string FormatSectorDump(ByteView sector) {
  size_t lines = sector.size() / kBytesPerLine;
  std::string out;
  out.reserve(kSectorDumpHeader.size() + lines * (kBytesPerLine * 3 + 16));
  out += kSectorDumpHeader;
  for (size_t l = 0; l < lines; ++l) {
    out += '\n';
    AppendDumpLine(out, sector.data() + l * kBytesPerLine, l * kBytesPerLine);
  }
  return out;
}

int64_t ParseSectorNumber(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return -1;
  return value;
}

bool SectorViewer::ShowSector(int64_t sector) {
  Source* source = source_.get();
  uint32_t size = geometry_.SectorSize;
  if (!source || size == 0 || size > kMaxSectorSize) return false;
  if (sector < 0 || sector > geometry_.PartitionLastSector) return false;
  int64_t offset = sector * static_cast<int64_t>(size);
  bytesRead_ = offset;
  if (!source->ReadAt(offset, readBuffer_.data(), size)) return false;
  bytesRead_ = offset + size;

  std::memcpy(sectorBuffer_.data(), readBuffer_.data(), size);
  memo1_ = FormatSectorDump(ByteView(sectorBuffer_.data(), size));
  viewSector_ = sector;
  edit1_ = std::to_string(sector);
  UpdateStepButtons();
  return true;
}

void SectorViewer::UpdateStepButtons() {
  controls_.Button3 = viewSector_ > 0;
  controls_.Button4 = viewSector_ < geometry_.PartitionLastSector;
  controls_.Button8 = controls_.Button3;
  controls_.Button9 = controls_.Button4;
}

void SectorViewer::First() {
  if (source_) ShowSector(0);
}

void SectorViewer::Previous() {
  if (source_ && viewSector_ > 0) ShowSector(viewSector_ - 1);
}

void SectorViewer::Next() {
  if (source_ && viewSector_ < geometry_.PartitionLastSector) ShowSector(viewSector_ + 1);
}

void SectorViewer::Last() {
  if (source_) ShowSector(geometry_.PartitionLastSector);
}

void SectorViewer::PageUp() {
  if (source_ && viewSector_ > 0) ShowSector(std::max<int64_t>(viewSector_ - kPageSectors, 0));
}

void SectorViewer::PageDown() {
  int64_t last = geometry_.PartitionLastSector;
  if (source_ && viewSector_ < last) ShowSector(viewSector_ < last - kPageSectors ? viewSector_ + kPageSectors : last);
}

int SectorViewer::Goto(std::string_view text) {
  if (!source_) return 0;
  int64_t n = ParseSectorNumber(text);
  if (n < 0 || n > geometry_.PartitionLastSector) return kTextInvalidSectorRange;
  ShowSector(n);
  return 0;
}

void SectorViewer::EnableEntry() {
  controls_.Memo1 = true;
  controls_.Edit1 = true;
  controls_.Button5 = true;
}

void SectorViewer::Clear() {
  memo1_.clear();
  controls_ = TViewerControls{};
  viewSector_ = 0;
}

}  // namespace morvane
