// The sector viewer: a hex and character dump of one sector of the open source, with
// stepping and a jump to a typed sector number.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "storage/bytes.h"
#include "storage/geometry.h"
#include "storage/source.h"

namespace morvane {

inline constexpr int kTextInvalidSectorRange = 19;  // "Invalid sector range!"

// The header line of a dump.
inline constexpr std::string_view kSectorDumpHeader =
    "     0 1  2 3  4 5  6 7  8 9  A B  C D  E F  0 1  2 3  4 5  6 7  8 9  A B  C D  E F  "
    "0123456789ABCDEF0123456789ABCDEF";

// The dump of a sector: the header line, then one line per 32 bytes, the lines joined with
// '\n' (no newline after the last). A line is the offset in upper-case hex (at least 3
// digits) and ": ", sixteen groups of two bytes as 4 hex digits in storage order each
// followed by a blank, and the 32 bytes as characters (0x20..0x7E as themselves, others as
// '.'). Bytes after the last whole 32 are not shown.
std::string FormatSectorDump(ByteView sector);

// A sector number typed by the user: a decimal 64-bit integer, blanks around it allowed;
// -1 when the text is not one.
int64_t ParseSectorNumber(std::string_view text);

// Enabled states of the viewer's controls.
struct TViewerControls {
  bool Memo1 = false;    // the dump
  bool Edit1 = false;    // sector number entry
  bool Button5 = false;  // go to
  bool Button8 = false;  // "|<" first
  bool Button3 = false;  // "<"  previous
  bool Button4 = false;  // ">"  next
  bool Button9 = false;  // ">|" last
};

// Reads through `source` (null: nothing open, every operation does nothing) with the sector
// size and last sector of `geometry`, and keeps `bytesRead` at the position after the sector
// shown. The three are the owner's and must outlive the viewer.
class SectorViewer {
 public:
  SectorViewer(const std::unique_ptr<Source>& source, const TSourceGeometry& geometry, int64_t& bytesRead)
      : source_(source), geometry_(geometry), bytesRead_(bytesRead) {}
  SectorViewer(const SectorViewer&) = delete;
  SectorViewer& operator=(const SectorViewer&) = delete;

  // Reads and shows `sector`. False when it cannot be read; the dump, ViewSector, Edit1 and
  // the buttons then stay as they were.
  bool ShowSector(int64_t sector);

  void First();     // "|<"
  void Previous();  // "<", Up arrow
  void Next();      // ">", Down arrow
  void Last();      // ">|"
  void PageUp();    // ten sectors back, stopping at 0
  void PageDown();  // ten sectors on, stopping at the last sector
  // Shows the sector typed in `text`; kTextInvalidSectorRange when it is not a sector of
  // the source (0 otherwise, also when the sector cannot be read).
  int Goto(std::string_view text);

  // Turns the dump, the entry field and the go-to button on (a source was opened).
  void EnableEntry();
  // Clears the dump and turns every control off (the source was closed).
  void Clear();

  int64_t ViewSector() const { return viewSector_; }
  const std::array<uint8_t, kMaxSectorSize>& SectorBuffer() const { return sectorBuffer_; }
  const std::string& Memo1() const { return memo1_; }  // the dump text
  const std::string& Edit1() const { return edit1_; }
  const TViewerControls& Controls() const { return controls_; }

 private:
  void UpdateStepButtons();

  const std::unique_ptr<Source>& source_;
  const TSourceGeometry& geometry_;
  int64_t& bytesRead_;

  int64_t viewSector_ = 0;
  std::array<uint8_t, kMaxSectorSize> sectorBuffer_{};
  std::array<uint8_t, kMaxSectorSize> readBuffer_{};
  std::string memo1_;
  std::string edit1_;
  TViewerControls controls_;
};

}  // namespace morvane
