#include "formats/documents/pdf.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "scan/copies_ahead.h"
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

// The first place q in [p, end - 1) where q[0] is a or b and q[1] is c, else end. A pair of
// bytes is far rarer than one byte: sixteen places are looked at in one step.
const uint8_t* FindPair(const uint8_t* p, const uint8_t* end, uint8_t a, uint8_t b, uint8_t c) {
#ifdef __SSE2__
  const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
  const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
  for (; end - p >= 17; p += 16) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i either = _mm_or_si128(_mm_cmpeq_epi8(first, va), _mm_cmpeq_epi8(first, vb));
    const int hits = _mm_movemask_epi8(_mm_and_si128(either, _mm_cmpeq_epi8(second, vc)));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  for (; end - p >= 2; ++p)
    if ((p[0] == a || p[0] == b) && p[1] == c) return p;
  return end;
}

// Where Illustrator's mark first begins in [p, e), else e.
const char* FindMark(const char* p, const char* e) {
  const auto n = static_cast<ptrdiff_t>(kIllustratorMark.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(p);
  const auto* end = reinterpret_cast<const uint8_t*>(e);
  const auto first = static_cast<uint8_t>(kIllustratorMark[0]), second = static_cast<uint8_t>(kIllustratorMark[1]);
  while (end - bytes >= n) {
    bytes = FindPair(bytes, end - n + 2, first, first, second);
    if (end - bytes < n) return e;
    if (std::memcmp(bytes, kIllustratorMark.data(), kIllustratorMark.size()) == 0) return reinterpret_cast<const char*>(bytes);
    ++bytes;
  }
  return e;
}

enum class Have { Yes, RangeEnd, Failed };

// A read window over the document: bytes are looked at through it, and loaded a window's
// worth at a time when a test needs bytes that are not there yet.
class Window {
 public:
  Window() : window_(kWindowBytes) {}
  uint8_t At(int64_t pos) const { return window_[static_cast<size_t>(pos - start_)]; }
  // The offset of the first line break at or after pos inside the window, else its end. The
  // next CR and the next LF are each looked for once (binary streams have long lines, and
  // each is found fastest on its own).
  int64_t LineBreakFrom(int64_t pos) {
    if (nextCr_ < pos) nextCr_ = Next('\r', pos);
    if (nextLf_ < pos) nextLf_ = Next('\n', pos);
    return std::min(nextCr_, nextLf_);
  }
  // The first line break at or after pos that the letter s follows (a line that may begin
  // with "startxref"), or the window's last byte when that is a break, else its end.
  int64_t BreakBeforeSFrom(int64_t pos) {
    if (nextBreakBeforeS_ >= pos) return nextBreakBeforeS_;
    const uint8_t* data = window_.data();
    const uint8_t* end = data + (end_ - start_);
    const uint8_t* found = FindPair(data + (pos - start_), end, '\r', '\n', 's');
    if (found != end) return nextBreakBeforeS_ = start_ + (found - data);
    return nextBreakBeforeS_ = pos < end_ && IsLineBreak(At(end_ - 1)) ? end_ - 1 : end_;
  }
  bool Holds(int64_t pos, int64_t n) const { return pos >= start_ && pos + n <= end_; }
  bool HoldsText(int64_t pos, std::string_view text) const {
    return std::memcmp(window_.data() + (pos - start_), text.data(), text.size()) == 0;
  }
  // Whether Illustrator's mark lies wholly in front of `end`, as far as the windows loaded
  // from the first one on show (they follow one another without a gap).
  bool MarkWithin(int64_t end) const { return mark_ >= 0 && mark_ + kMarkBytes <= end; }

 protected:
  // A new window holds [start, start + count).
  void Loaded(int64_t start, int64_t count) {
    start_ = start;
    end_ = start + count;
    nextCr_ = nextLf_ = nextBreakBeforeS_ = -1;
    NoteMark();
  }
  std::vector<uint8_t> window_;
  int64_t start_ = 0;
  int64_t end_ = 0;

 private:
  static constexpr auto kMarkBytes = static_cast<int64_t>(kIllustratorMark.size());
  int64_t Next(uint8_t c, int64_t pos) const {
    const void* at = std::memchr(window_.data() + (pos - start_), c, static_cast<size_t>(end_ - pos));
    return at ? start_ + (static_cast<const uint8_t*>(at) - window_.data()) : end_;
  }
  // The first mark that begins in the window, or across its start, and was not looked for
  // before. A window begins where the one before ends or inside it.
  void NoteMark() {
    if (mark_ >= 0) return;
    NoteMarkAcrossStart();
    const auto* data = reinterpret_cast<const char*>(window_.data());
    const int64_t from = std::max(searchedTo_, start_);
    const char* end = data + (end_ - start_);
    const char* found = FindMark(data + (from - start_), end);
    if (mark_ < 0 && found != end) mark_ = start_ + (found - data);
    searchedTo_ = std::max(searchedTo_, end_ - kMarkBytes + 1);
    // The window's last bytes, for a mark that goes on in the next one.
    const int64_t kept = std::min<int64_t>(kMarkBytes - 1, end_ - start_);
    std::memcpy(tail_.data(), data + (end_ - start_ - kept), static_cast<size_t>(kept));
    tailFrom_ = end_ - kept;
    tailEnd_ = end_;
  }
  // A mark that begins in the last bytes of the window before and ends in this one.
  void NoteMarkAcrossStart() {
    const int64_t from = std::max(searchedTo_, tailFrom_);
    if (from >= start_ || start_ > tailEnd_) return;
    std::array<char, 2 * kMarkBytes> joined{};
    const auto before = static_cast<size_t>(start_ - from);
    std::memcpy(joined.data(), tail_.data() + (from - tailFrom_), before);
    const size_t after = static_cast<size_t>(std::min<int64_t>(kMarkBytes - 1, end_ - start_));
    std::memcpy(joined.data() + before, window_.data(), after);
    const char* end = joined.data() + before + after;
    const char* found = FindMark(joined.data(), end);
    if (found != end && found < joined.data() + before) mark_ = from + (found - joined.data());
  }
  // The next of each in the window from where last asked, or its end.
  int64_t nextCr_ = -1, nextLf_ = -1, nextBreakBeforeS_ = -1;
  int64_t mark_ = -1, searchedTo_ = 0;
  std::array<char, kMarkBytes - 1> tail_{};
  int64_t tailFrom_ = 0, tailEnd_ = -1;  // what tail_ holds
};

// The document as the pass loads it (sectors read beyond its end are given back when it is
// cut to its length).
class DocumentReader : public Window {
 public:
  explicit DocumentReader(Recognition& rec) : rec_(rec) {}

  // Makes bytes [pos, pos + n) readable through At(). RangeEnd: no unclaimed sector is left
  // in the range; Failed: a read failed or the document grew beyond its limit.
  Have Need(int64_t pos, int64_t n) {
    if (Holds(pos, n)) return Have::Yes;
    if (rec_.Length() < pos + n) {
      if (pos + n > kMaxPdfBytes) return Have::Failed;
      const CopyStop stop = rec_.CopyAsFarAs(std::min(pos + n + kWindowBytes, kMaxPdfBytes));
      if (rec_.Length() < pos + n) return stop == CopyStop::RangeEnd ? Have::RangeEnd : Have::Failed;
    }
    // In claim-only mode nothing before pos is held any longer.
    rec_.DropHeldBytesBefore(pos);
    const int64_t count = std::min(kWindowBytes, rec_.Length() - pos);
    if (!rec_.ReadBack(pos, window_.data(), static_cast<size_t>(count))) return Have::Failed;
    Loaded(pos, count);
    return Have::Yes;
  }
  // Inside a line the scan depends on nothing before pos. A failed walk is looked for (and
  // this one noted) where the scan first stands in each sector: on the same line break as
  // any other walk over the same lines.
  bool DeadEnd(int64_t pos) {
    if (pos < nextSector_) return false;
    nextSector_ = (pos / rec_.SectorSize() + 1) * rec_.SectorSize();
    return rec_.KnownDeadEnd("PDF", pos);
  }
  // Inside a line, where the scan stands next: on a line that may begin with "startxref", or
  // on the first line break in a sector it has not stood in yet.
  int64_t NextStop(int64_t pos) {
    const int64_t maybeTrailer = BreakBeforeSFrom(pos);
    const int64_t from = std::max(pos, nextSector_);
    return from >= maybeTrailer ? maybeTrailer : std::min(maybeTrailer, LineBreakFrom(from));
  }
  bool Failed() const { return rec_.Failed(); }
  bool StandsAt(int64_t) { return true; }

 private:
  Recognition& rec_;
  int64_t nextSector_ = 0;  // the start of the sector after the one the scan last stood in
};

// The document read straight from the source, for the walk made ahead: it stands at every
// line start, its state whether Illustrator's mark lies wholly in front of it.
class SourceDocument : public Window {
 public:
  SourceDocument(Source& source, int64_t start, int64_t limit, WalkProgress& progress)
      : source_(source), origin_(start), limit_(std::min(limit, source.SizeBytes() - start)), progress_(progress) {}

  Have Need(int64_t pos, int64_t n) {
    if (Holds(pos, n)) return Have::Yes;
    if (pos + n > kMaxPdfBytes) return Have::Failed;
    if (pos + n > limit_) return Have::RangeEnd;
    const int64_t count = std::min(kWindowBytes, limit_ - pos);
    if (!source_.ReadAt(origin_ + pos, window_.data(), static_cast<size_t>(count))) return Have::Failed;
    Loaded(pos, count);
    return Have::Yes;
  }
  bool DeadEnd(int64_t) { return false; }
  // Only a line that begins with "startxref" changes the scan's course: the walk goes from
  // one line that may to the next (it stands at fewer line starts than the pass).
  int64_t NextStop(int64_t pos) { return BreakBeforeSFrom(pos); }
  bool Failed() const { return false; }
  bool StandsAt(int64_t pos) { return progress_.StandsAt(pos, MarkWithin(pos)); }

 private:
  Source& source_;
  const int64_t origin_, limit_;  // where the document starts in the source, and its limit
  WalkProgress& progress_;
};

// The text at pos, when all of it can be loaded.
template <class Doc>
Have Matches(Doc& doc, int64_t pos, std::string_view text, bool* matches) {
  const Have have = doc.Need(pos, static_cast<int64_t>(text.size()));
  *matches = have == Have::Yes && doc.HoldsText(pos, text);
  return have;
}

// "N G obj" at pos: the start of an object of an incremental update. Bytes that cannot be
// loaded are no object. The bytes are looked at from pos, so that the read window (and, in
// claim-only mode, what is held) still begins at pos afterwards.
template <class Doc>
bool IsObjectHeader(Doc& doc, int64_t pos) {
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

// Scans from pos, in the state given, for the trailer that ends the document; returns its
// length, or -1.
template <class Doc>
int64_t FindDocumentEnd(Doc& doc, int64_t pos, State state) {
  bool numberIsZero = false;
  for (;;) {
    const Have have = doc.Need(pos, 1);
    if (have != Have::Yes) {
      // A document whose last line break is the last byte of the range is whole.
      return have == Have::RangeEnd && state == State::AfterEof ? pos : -1;
    }
    if (state == State::InLine && doc.DeadEnd(pos)) return -1;
    const uint8_t c = doc.At(pos);
    const bool lineBreak = IsLineBreak(c);
    bool matches = false;
    switch (state) {
      case State::InLine:
        if (lineBreak) {
          state = State::LineStart;
          if (!doc.StandsAt(++pos)) return -1;
        } else {
          pos = doc.NextStop(pos);
        }
        break;
      case State::LineStart:
        if (lineBreak) {
          ++pos;
          break;
        }
        // A line too short to be told from "startxref" before the range ends fails too.
        if (Matches(doc, pos, "startxref", &matches) != Have::Yes) return -1;
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
          if (Matches(doc, pos, "%%EOF", &matches) != Have::Yes) return -1;
          pos += matches ? 5 : 1;
          state = matches ? State::AfterEof : State::InLine;
        }
        break;
      case State::AfterEof:
        if (lineBreak) {
          ++pos;
        } else if (Matches(doc, pos, "xref", &matches) == Have::Failed) {
          return -1;
        } else if (matches) {
          pos += 4;
          state = State::InLine;
        } else if (IsObjectHeader(doc, pos)) {
          state = State::InLine;
        } else {
          return doc.Failed() ? -1 : pos;
        }
        break;
    }
  }
}

// Whether Illustrator's mark begins in front of byte kFirstScanned (where the scan for the
// trailer begins) and ends in front of `length`.
bool MarkInHead(const Recognition& rec, int64_t length) {
  const auto* data = reinterpret_cast<const char*>(rec.FirstBytes().data());
  const auto n = std::min<int64_t>(rec.FirstBytes().size(), kFirstScanned + kIllustratorMark.size() - 1);
  const char* found = FindMark(data, data + n);
  return found != data + n && (found - data) + static_cast<int64_t>(kIllustratorMark.size()) <= length;
}

// The scan for the trailer from pos in the state given (from the first line start the walk
// made ahead, if any, stood at); then the document is cut to its length and named by whether
// it carries Illustrator's mark.
bool FindEndAndKind(Recognition& rec, const std::string& outputFolder, int64_t startOffset,
                    const std::optional<Recognition::WalkedAhead>& walked) {
  DocumentReader doc(rec);
  const int64_t length = walked ? FindDocumentEnd(doc, walked->At, State::LineStart)
                                : FindDocumentEnd(doc, kFirstScanned, State::InLine);
  if (length < 0) return false;
  // Sectors read only to see what followed the last trailer are given back.
  rec.CutToLength(length);
  if ((walked && walked->State != 0) || MarkInHead(rec, length) || doc.MarkWithin(length))
    rec.PlaceAs(RecoveredFileName(outputFolder, startOffset, ".AI"));
  return true;
}

}  // namespace

int64_t PdfWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress) {
  SourceDocument doc(source, startOffset, limit, progress);
  bool matches = false;
  if (Matches(doc, 0, kSignature, &matches) != Have::Yes || !matches) return 0;
  return FindDocumentEnd(doc, kFirstScanned, State::InLine);
}

int RecoverPdf(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  const bool writes = !outputFolder.empty();
  // A document copied ahead of the pass is written into that copy, and the scan for its end
  // is taken up where the walk made ahead stood; any other is written once its end is known.
  const bool copied = writes && scan.Copies && scan.Copies->Holds(startOffset);
  const std::string name = writes ? RecoveredFileName(outputFolder, startOffset, ".PDF") : std::string();
  Recognition rec(scan, startOffset,
                  copied   ? RecognitionOutput::Undecided()
                  : writes ? RecognitionOutput::FileOnCommit(name)
                           : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, kSignature)) return 0;
  std::optional<Recognition::WalkedAhead> walked;
  if (copied) {
    if (!rec.ChooseOutput(RecognitionOutput::File(name))) return 0;
    walked = rec.TakeWalkedAhead(PdfWalkAhead);
  }
  if (FindEndAndKind(rec, outputFolder, startOffset, walked)) rec.Commit();
  return 0;
}

}  // namespace morvane
