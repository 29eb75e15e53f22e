#include "formats/documents/pdf.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/raw_card.h"
#include "scan/observer.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("pdf/" + name)); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct PdfCard : test::RawCard {
  using RawCard::RawCard;
  // With `ahead`, the document is copied and walked ahead of the recogniser (over the image
  // as a file, its place passed on every 256 bytes), as the search pass's worker does.
  bool ahead = false;
  std::function<void()> afterWalk;
  // The driver passes the folder only when AI/PDF is selected.
  void Recover(int64_t sector, bool selected = true) {
    auto recover = [&](ScanContext& scan) {
      RecoverPdf(scan, selected ? setup.Options.OutputFolder : std::string(), sector * 512);
    };
    if (ahead) WithWalkAhead(PdfWalkAhead, sector, 256, afterWalk, recover);
    else recover(Context());
  }
  Bytes Written(int64_t sector, const std::string& ext = ".PDF") const { return test::ReadFileBytes(File(sector, ext)); }
};

// A document body of about `bytes` bytes with no trailer in it.
std::string Body(size_t bytes) {
  std::string s = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  for (int i = 1; s.size() < bytes; ++i) s += std::to_string(i) + " 0 obj\n<< /N " + std::to_string(i) + " >>\nendobj\n";
  return s;
}

TEST(RecoverPdf, DocumentsOfRealToolsComeBackByteForByte) {
  // LibreOffice, Ghostscript, a linearized file (its first-page trailer points to 0), two
  // incremental updates (a cross-reference table and a cross-reference stream after the
  // first end-of-file line), and a binary stream that holds "%%EOF" lines.
  const std::vector<std::string> names = {"libreoffice.pdf", "ghostscript.pdf", "linearized.pdf",
                                          "incremental.pdf", "incremental_xrefstream.pdf", "binary_eof.pdf"};
  PdfCard t(120, 1, true);
  std::vector<Bytes> files;
  for (const auto& n : names) files.push_back(Sample(n));
  const std::vector<int64_t> starts = t.PlaceInRow(files, 1, 2);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(t.Written(starts[i]), Sample(names[i])) << names[i];
}

TEST(RecoverPdf, TrailerRules) {
  const std::string trailer = "startxref\r\n1234\r\n%%EOF\r\n";
  struct Case {
    const char* what;
    std::string text;
    int64_t length;  // expected document length, -1: not recovered
  };
  const std::string body = Body(700);
  std::string window = Body(60000) + "%";  // a line break that ends the walk's first 64 KiB
  window.resize(0xFFFF, ' ');
  window += "\n";
  const std::vector<Case> cases = {
      {"a trailer at the start of a read window", window + trailer + "junk\n" + trailer,
       int64_t(window.size() + trailer.size())},
      {"ends after the line breaks behind %%EOF", body + trailer + "junk", int64_t(body.size() + trailer.size())},
      {"a trailer pointing to 0 does not end it", body + "startxref\n0\n%%EOF\n" + body.substr(9) + trailer + "x",
       int64_t(2 * body.size() - 9 + 18 + trailer.size())},
      {"an xref section after %%EOF continues it", body + trailer + "xref\n0 1\n" + trailer + "x",
       int64_t(body.size() + 2 * trailer.size() + 9)},
      {"spaces after startxref are no trailer", body + "startxref \n1234\n%%EOF\n", -1},
      {"spaces before the number are no trailer", body + "startxref\n 1234\n%%EOF\n", -1},
      {"startxref must begin a line", body + "x startxref\n1234\n%%EOF\n", -1},
      {"no trailer at all", body, -1},
  };
  for (const bool ahead : {false, true}) for (const auto& c : cases) {
    PdfCard t(Sectors(c.text.size()) + 4);
    t.ahead = ahead;
    Bytes doc = Text(c.text);
    t.Place(doc, 1);
    t.Recover(1);
    if (c.length < 0) {
      EXPECT_EQ(t.ClaimedCount(), 0) << c.what;
      EXPECT_TRUE(t.Files().empty()) << c.what;
      continue;
    }
    doc.resize(static_cast<size_t>(c.length));
    EXPECT_EQ(t.Written(1), doc) << c.what;
    // Sectors read only to see the byte after the end are given back.
    EXPECT_EQ(t.ClaimedCount(), Sectors(doc.size())) << c.what;
  }
}

TEST(RecoverPdf, EndOfRangeAndClaimOnly) {
  const Bytes doc = Sample("ghostscript.pdf");
  const int64_t n = Sectors(doc.size());
  {  // The range ends right behind the final line break: the document is whole. A
     // comment line after the header grows it to fill its sectors exactly.
    Bytes exact = doc;
    const size_t pad = static_cast<size_t>(n * 512) - doc.size() + 512;
    Bytes comment(pad, ' ');
    comment.front() = '%';
    comment.back() = '\n';
    exact.insert(exact.begin() + 15, comment.begin(), comment.end());
    PdfCard t(n + 1);
    t.Place(exact, 0);
    t.Recover(0);
    EXPECT_EQ(t.Written(0), exact);
  }
  {  // The range ends before the trailer: nothing is kept.
    PdfCard t(n + 4);
    t.Place(doc, 0);
    t.setup.LastSector = n - 2;
    t.Recover(0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_TRUE(t.Files().empty());
  }
  {  // An update whose first object header straddles two sectors, claimed only: looking
     // ahead at it must not lose the bytes behind it.
    Bytes doc2 = Sample("incremental_xrefstream.pdf");
    const std::string text(doc2.begin(), doc2.end());
    const size_t header = text.find("%%EOF\n") + 6;
    ASSERT_NE(text.find(" 0 obj", header), std::string::npos);
    // "11 0 obj": its seventh byte opens a sector, after the "xref" test has looked at four.
    const size_t pad = 512 + 512 - (header + 6) % 512;
    Bytes comment(pad, ' ');
    comment.front() = '%';
    comment.back() = '\n';
    doc2.insert(doc2.begin() + 15, comment.begin(), comment.end());
    for (bool selected : {true, false}) {
      PdfCard t(Sectors(doc2.size()) + 4);
      t.Place(doc2, 0);
      t.Recover(0, selected);
      EXPECT_EQ(t.ClaimedCount(), Sectors(doc2.size())) << selected;
    }
  }
  {  // Around claimed sectors; and without a folder only claimed.
    for (bool selected : {true, false}) {
      PdfCard t(n + 10);
      std::vector<int64_t> sectors = {2, 3};
      for (int64_t s = 7; s < 7 + n; ++s) sectors.push_back(s);
      t.Place(doc, sectors);
      for (int64_t s = 4; s < 7; ++s) t.Context().SectorMap.ClaimSector(s);
      t.Recover(2, selected);
      EXPECT_EQ(t.ClaimedCount(), n + 3);
      if (selected) {
        EXPECT_EQ(t.Written(2), doc);
      } else {
        EXPECT_TRUE(t.Files().empty());
      }
    }
  }
}

// Also when the document was walked ahead of the pass: with Illustrator's mark in front of
// where the walk stood, or behind it; and a mark across the end of a window the scan read
// (the walk reads 64 KiB from the start on, the pass alone 64 KiB from the second sector on).
TEST(RecoverPdf, IllustratorDocumentsAreWrittenAsAi) {
  const std::string mark = "9 0 obj\n<< /AIPrivateData1 10 0 R >>\nendobj\n", body = Body(3000);
  const std::string trailer = "startxref\n116\n%%EOF\n";
  const std::string late = "9 0 obj\n<< /Producer (x) /AIPrivateData1 10 0 R >>\nendobj\n";
  auto across = [&](size_t end) { return Body(end).substr(0, end - 5 - late.find("/AI")) + late; };
  for (const bool ahead : {false, true}) {
    for (const auto& [text, ext] : std::vector<std::pair<std::string, std::string>>{
             {body + mark + trailer, ".AI"}, {body.substr(0, 300) + mark + body.substr(300) + trailer, ".AI"},
             {across(0x10000) + trailer, ".AI"}, {across(512 + 0x10000) + trailer, ".AI"},
             {body + trailer, ".PDF"}}) {
      PdfCard t(140);
      t.ahead = ahead;
      t.Place(Text(text), 1);
      t.Recover(1);
      EXPECT_EQ(t.Written(1, ext), Text(text)) << ahead;
      EXPECT_EQ(t.Files().size(), 1u);
    }
  }
  // An inventory writes nothing and reports the name the file would have had.
  struct Names : ScanObserver {
    std::vector<std::string> names;
    void OnFileRecovered(const RecoveredFileInfo& f) override { names.push_back(f.Name); }
  } reported;
  PdfCard t(12);
  t.observer = &reported;
  t.setup.Options.InventoryOnly = true;
  t.Place(Text(body + mark + trailer), 1);
  t.Recover(1);
  EXPECT_EQ(reported.names, std::vector<std::string>{t.File(1, ".AI")});
  EXPECT_TRUE(t.Files().empty());
}

// The pass takes the walk made ahead up where it stood, and does not read the bytes in front
// of that again: a trailer written into the image after the walk is not seen.
TEST(RecoverPdf, APassTakesTheWalkMadeAheadUpWhereItStood) {
  if (!test::kImagesCopyIntoFiles) GTEST_SKIP() << "image files are not copied into files on this system";
  const Bytes doc = Text(Body(6000) + "startxref\n116\n%%EOF\n");
  PdfCard t(16);
  t.ahead = true;
  t.Place(doc, 1);
  t.afterWalk = [&] { t.OverwriteImageFile(4 * 512, "\nstartxref\n1\n%%EOF\n"); };
  t.Recover(1);
  EXPECT_EQ(t.Written(1), doc);
  // Not where a sector in front of that place went to another file since: the pass then
  // walks as it does alone (documents whose trailer lies in the sector behind that one).
  for (size_t body = 1000; body < 1100; body += 10) {
    const Bytes small = Text(Body(body) + "startxref\n116\n%%EOF\n");
    std::vector<int64_t> claims[2];
    for (const bool ahead : {false, true}) {
      PdfCard c(16);
      c.ahead = ahead;
      c.Place(small, 1);
      if (ahead) c.ContextOverImageFile();
      c.Context().SectorMap.ClaimSector(2);
      c.Recover(1);
      claims[ahead] = c.ClaimedSectors();
    }
    EXPECT_EQ(claims[0], claims[1]) << body;
  }
}

TEST(RecoverPdf, ATrailerWithin300MiBEndsTheDocumentAndOneBeyondIsNotWaitedFor) {
  // A document body, zeros, and its trailer ending a sector before or after 300 MiB, on a
  // sparse card, claimed without being written.
  const std::string trailer = "\nstartxref\n9\n%%EOF\n";
  for (const int64_t end : {kMaxPdfBytes - 512, kMaxPdfBytes + 512}) {
    test::SparseCard card(kMaxPdfBytes + 0x100000,
                          {{0, Text(Body(600))}, {end - static_cast<int64_t>(trailer.size()), Text(trailer)}});
    ScanContext* scan = card.Context();
    ASSERT_TRUE(scan);
    RecoverPdf(*scan, "", 0);
    EXPECT_EQ(card.Claimed(), end < kMaxPdfBytes ? end / 512 : 0) << end;
  }
}

}  // namespace
}  // namespace morvane
