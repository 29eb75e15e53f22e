#include "formats/documents/pdf.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr std::string_view kSignature = "%PDF-";
constexpr int64_t kFirstScanned = 20;
constexpr int64_t kWindowBytes = 0x10000;
constexpr std::string_view kIllustratorMark = "/AIPrivateData";

bool IsLineBreak(uint8_t c) { return c == '\r' || c == '\n'; }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

enum class Have { Yes, RangeEnd, Failed };

// A read window over the document as it is loaded: bytes are looked at through it, and
// sectors are loaded a window's worth ahead when a test needs bytes that are not there yet
// (those read beyond the document's end are given back when it is cut to its length).
class DocumentReader {
 public:
  explicit DocumentReader(Recognition& rec) : rec_(rec), window_(kWindowBytes) {}

  // Makes bytes [pos, pos + n) readable through At(). RangeEnd: no unclaimed sector is left
  // in the range; Failed: a read failed or the document grew beyond its limit.
  Have Need(int64_t pos, int64_t n) {
    if (pos >= start_ && pos + n <= end_) return Have::Yes;
    if (rec_.Length() < pos + n) {
      if (pos + n > kMaxPdfBytes) return Have::Failed;
      const CopyStop stop = rec_.CopyAsFarAs(std::min(pos + n + kWindowBytes, kMaxPdfBytes));
      if (rec_.Length() < pos + n) return stop == CopyStop::RangeEnd ? Have::RangeEnd : Have::Failed;
    }
    // In claim-only mode nothing before pos is held any longer.
    rec_.DropHeldBytesBefore(pos);
    const int64_t count = std::min(kWindowBytes, rec_.Length() - pos);
    if (!rec_.ReadBack(pos, window_.data(), static_cast<size_t>(count))) return Have::Failed;
    start_ = pos;
    end_ = pos + count;
    return Have::Yes;
  }
  uint8_t At(int64_t pos) const { return window_[static_cast<size_t>(pos - start_)]; }
  // The offset of the first line break at or after pos inside the window, else its end.
  int64_t LineBreakFrom(int64_t pos) const {
    const uint8_t* p = window_.data() + (pos - start_);
    const uint8_t* e = window_.data() + (end_ - start_);
    while (p < e && !IsLineBreak(*p)) ++p;
    return start_ + (p - window_.data());
  }
  // The text at pos, when all of it can be loaded.
  Have Matches(int64_t pos, std::string_view text, bool* matches) {
    const Have have = Need(pos, static_cast<int64_t>(text.size()));
    *matches = have == Have::Yes && std::memcmp(window_.data() + (pos - start_), text.data(), text.size()) == 0;
    return have;
  }

 private:
  Recognition& rec_;
  std::vector<uint8_t> window_;
  int64_t start_ = 0;
  int64_t end_ = 0;
};

// "N G obj" at pos: the start of an object of an incremental update. Bytes that cannot be
// loaded are no object. The bytes are looked at from pos, so that the read window (and, in
// claim-only mode, what is held) still begins at pos afterwards.
bool IsObjectHeader(DocumentReader& doc, int64_t pos) {
  int64_t n = 0;
  auto next = [&](uint8_t* c) {
    if (doc.Need(pos, n + 1) != Have::Yes) return false;
    *c = doc.At(pos + n++);
    return true;
  };
  uint8_t c = 0;
  for (int part = 0; part < 2; ++part) {
    int digits = 0;
    while (digits <= 10 && next(&c) && IsDigit(c)) ++digits;
    if (digits == 0 || digits > 10 || c != ' ') return false;
  }
  for (char letter : std::string_view("obj"))
    if (!next(&c) || c != letter) return false;
  return true;
}

enum class State { InLine, LineStart, AfterStartxref, BeforeNumber, InNumber, AfterNumber, AfterEof };

// Scans from byte 20 for the trailer that ends the document; returns its length, or -1.
int64_t FindDocumentEnd(Recognition& rec) {
  DocumentReader doc(rec);
  State state = State::InLine;
  bool numberIsZero = false;
  int64_t pos = kFirstScanned;
  for (;;) {
    const Have have = doc.Need(pos, 1);
    if (have != Have::Yes) {
      // A document whose last line break is the last byte of the range is whole.
      return have == Have::RangeEnd && state == State::AfterEof ? pos : -1;
    }
    // Inside a line the scan depends on nothing before pos.
    if (state == State::InLine && rec.KnownDeadEnd("PDF", pos)) return -1;
    const uint8_t c = doc.At(pos);
    const bool lineBreak = IsLineBreak(c);
    bool matches = false;
    switch (state) {
      case State::InLine:
        if (lineBreak) state = State::LineStart;
        pos = lineBreak ? pos + 1 : doc.LineBreakFrom(pos);
        break;
      case State::LineStart:
        if (lineBreak) {
          ++pos;
          break;
        }
        // A line too short to be told from "startxref" before the range ends fails too.
        if (doc.Matches(pos, "startxref", &matches) != Have::Yes) return -1;
        pos += matches ? 9 : 1;
        state = matches ? State::AfterStartxref : State::InLine;
        break;
      case State::AfterStartxref:
        if (lineBreak) ++pos;
        state = lineBreak ? State::BeforeNumber : State::InLine;
        break;
      case State::BeforeNumber:
        ++pos;
        if (IsDigit(c)) numberIsZero = c == '0';
        if (!lineBreak) state = IsDigit(c) ? State::InNumber : State::InLine;
        break;
      case State::InNumber:
        ++pos;
        if (IsDigit(c)) numberIsZero = false;
        if (lineBreak) state = State::AfterNumber;
        else if (!IsDigit(c)) state = State::InLine;
        break;
      case State::AfterNumber:
        if (lineBreak) {
          ++pos;
        } else if (numberIsZero) {
          ++pos;
          state = State::InLine;
        } else {
          if (doc.Matches(pos, "%%EOF", &matches) != Have::Yes) return -1;
          pos += matches ? 5 : 1;
          state = matches ? State::AfterEof : State::InLine;
        }
        break;
      case State::AfterEof:
        if (lineBreak) {
          ++pos;
        } else if (doc.Matches(pos, "xref", &matches) == Have::Failed) {
          return -1;
        } else if (matches) {
          pos += 4;
          state = State::InLine;
        } else if (IsObjectHeader(doc, pos)) {
          state = State::InLine;
        } else {
          return rec.Failed() ? -1 : pos;
        }
        break;
    }
  }
}

bool IsIllustratorDocument(ByteView bytes) {
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  return std::search(data, data + bytes.size(), kIllustratorMark.begin(), kIllustratorMark.end()) !=
         data + bytes.size();
}

}  // namespace

int RecoverPdf(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  const bool writes = !outputFolder.empty();
  Recognition rec(scan, startOffset, writes ? RecognitionOutput::Memory() : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, kSignature)) return 0;
  const int64_t length = FindDocumentEnd(rec);
  if (length < 0) return 0;
  // Sectors read only to see what followed the last trailer are given back.
  rec.CutToLength(length);
  if (writes) {
    const char* extension = IsIllustratorDocument(rec.Bytes()) ? ".AI" : ".PDF";
    rec.Save(RecoveredFileName(outputFolder, startOffset, extension));
  }
  rec.Commit(false);
  return 0;
}

}  // namespace morvane
