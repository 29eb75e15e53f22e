// Matroska and WebM: files of ffmpeg (written to a file and to a pipe) and mkvmerge byte for
// byte, and constructed ones whose elements are written out below.
#include "formats/media/matroska.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/raw_card.h"
#include "scan/file_type_id.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Cat;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("matroska/" + name)); }

// An element: its ID bytes, its size in 8 bytes (or unknown), its data.
Bytes Element(Bytes id, const Bytes& data, bool unknownSize = false) {
  Bytes size = {0x01, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 7; ++i) size[7 - i] = unknownSize ? 0xFF : static_cast<uint8_t>(data.size() >> (8 * i));
  return Cat({id, size, data});
}
Bytes EbmlHeader(const std::string& docType) {
  return Element({0x1A, 0x45, 0xDF, 0xA3}, Cat({{0x42, 0x86, 0x81, 0x01}, Element({0x42, 0x82}, Bytes(docType.begin(), docType.end()))}));
}
const Bytes kSegmentId = {0x18, 0x53, 0x80, 0x67};
const Bytes kClusterId = {0x1F, 0x43, 0xB6, 0x75};
const Bytes kInfo = Element({0x15, 0x49, 0xA9, 0x66}, Bytes(40, 0x11));
const Bytes kCluster = Element(kClusterId, Cat({{0xE7, 0x81, 0x00}, Element({0xA3}, Bytes(900, 0x22))}));
const Bytes kVoid = Element({0xEC}, Bytes(20, 0));

const std::vector<std::pair<std::string, std::string>> kSamples = {
    {"ffmpeg_seekable.mkv", ".MKV"}, {"ffmpeg_pipe.mkv", ".MKV"},       {"ffmpeg_seekable.webm", ".WEBM"},
    {"ffmpeg_pipe.webm", ".WEBM"},   {"mkvmerge.mkv", ".MKV"},         {"unknown_clusters.mkv", ".MKV"}};

struct MatroskaCard : test::RawCard {
  using RawCard::RawCard;
  void Recover(int64_t sector, bool selected = true) {
    RecoverMatroska(Context(), selected ? setup.Options.OutputFolder : std::string(), sector * 512);
  }
  Bytes Written(int64_t sector, const std::string& ext) const { return test::ReadFileBytes(File(sector, ext)); }
};

TEST(RecoverMatroska, FilesOfFfmpegAndMkvmergeComeBackByteForByte) {
  // On random bytes, one after the other; a file of unknown size ends where the random
  // bytes begin. Claim-only takes the same sectors.
  std::vector<Bytes> files;
  for (const auto& [name, ext] : kSamples) files.push_back(Sample(name));
  std::vector<int64_t> claimed[2];
  for (bool selected : {true, false}) {
    MatroskaCard t(500, 1, true);
    const std::vector<int64_t> starts = t.PlaceInRow(files, 2, 3);
    for (int64_t s : starts) t.Recover(s, selected);
    claimed[selected] = t.ClaimedSectors();
    if (!selected) {
      EXPECT_TRUE(t.Files().empty());
      continue;
    }
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(t.Written(starts[i], kSamples[i].second), files[i]) << kSamples[i].first;
      // A copy made ahead is as long.
      EXPECT_EQ(t.Stated(kSamples[i].second == ".MKV" ? ftMatroska : ftWebm, starts[i]),
                static_cast<int64_t>(files[i].size()))
          << kSamples[i].first;
    }
  }
  EXPECT_EQ(claimed[0], claimed[1]);
}

TEST(RecoverMatroska, AroundClaimedSectorsAndAtTheEndOfTheRange) {
  for (const char* name : {"ffmpeg_seekable.mkv", "ffmpeg_pipe.mkv", "unknown_clusters.mkv"}) {
    const Bytes mkv = Sample(name);
    const bool stream = std::string(name) != "ffmpeg_seekable.mkv";
    const int64_t n = Sectors(mkv.size());
    // Five sectors, four of another file, the rest; the range ends with the file's last
    // sector, then 20 sectors earlier: a stream keeps its whole elements before the cut.
    for (int64_t cut : {0, 20}) {
      for (bool selected : {true, false}) {
        MatroskaCard t(n + 12, 1, true);
        std::vector<int64_t> sectors = test::SectorRunOf(1, 5);
        for (int64_t s = 10; s < 10 + n - 5; ++s) sectors.push_back(s);
        t.Place(mkv, sectors);
        t.setup.LastSector = sectors.back() - cut;
        for (int64_t s = 6; s < 10; ++s) t.Context().SectorMap.ClaimSector(s);
        t.Recover(1, selected);
        if (!cut) {
          EXPECT_EQ(t.ClaimedCount(), n + 4) << name;
          if (selected) {
            EXPECT_EQ(t.Written(1, ".MKV"), mkv) << name;
          }
        } else if (!stream) {
          EXPECT_EQ(t.ClaimedCount(), 4) << name;
          EXPECT_TRUE(t.Files().empty()) << name;
        } else if (selected) {
          // The last cluster (of unknown size: its last block) is cut off: the file is the
          // piped file up to it.
          const Bytes w = t.Written(1, ".MKV");
          ASSERT_GT(w.size(), 10000u) << name;
          EXPECT_LT(w.size(), mkv.size() - 19 * 512) << name;
          EXPECT_TRUE(std::equal(w.begin(), w.end(), mkv.begin())) << name;
          EXPECT_EQ(mkv[w.size()], std::string(name) == "unknown_clusters.mkv" ? 0xA3 : kClusterId[0]) << name;
        }
      }
    }
  }
}

TEST(RecoverMatroska, WhatEndsAStreamAndWhatIsNoFile) {
  const Bytes head = Cat({EbmlHeader("matroska"), kSegmentId, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}});
  const Bytes stream = Cat({head, kInfo, kCluster, kCluster});
  // Behind the stream: padding that nothing follows, another file's EBML header, a cluster
  // of unknown size whose elements end at a foreign byte, zeros, padding over sectors that
  // claim-only steps over unread. Claim-only takes the file's sectors.
  const Bytes liveCluster = Element(kClusterId, Cat({{0xE7, 0x81, 0x00}, Element({0xA3}, Bytes(300, 0x33))}), true);
  const std::vector<std::pair<Bytes, Bytes>> kept = {
      {stream, kVoid},
      {stream, EbmlHeader("webm")},
      {Cat({stream, liveCluster}), {0x42, 0x42}},
      {Cat({head, kInfo, liveCluster, kVoid, kCluster}), Bytes(600, 0)},
      {Cat({head, kInfo, liveCluster, liveCluster, liveCluster}), Element({0xEC}, Bytes(1500, 0))},
  };
  for (const auto& [file, behind] : kept) {
    for (bool selected : {true, false}) {
      MatroskaCard t(12);
      t.Place(Cat({file, behind}), 1);
      t.Recover(1, selected);
      EXPECT_EQ(t.Stated(ftMatroska, 1), static_cast<int64_t>(file.size()));
      EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(1, Sectors(file.size())));
      if (selected) {
        EXPECT_EQ(t.Written(1, ".MKV"), file);
      }
    }
  }
  const Bytes seekable = Cat({EbmlHeader("webm"), Element(kSegmentId, Cat({kInfo, kCluster}))});
  {
    MatroskaCard t(12, 1, true);
    t.Place(seekable, 1);
    t.Recover(1);
    EXPECT_EQ(t.Written(1, ".WEBM"), seekable);
  }
  {  // a copy made ahead reads a bounded number of element headers: a stream of more
     // clusters is copied as far as they reach
    const Bytes tiny = Element(kClusterId, {0xE7, 0x81, 0x00});
    Bytes many = head;
    for (int i = 0; i < 70000; ++i) many.insert(many.end(), tiny.begin(), tiny.end());
    MatroskaCard t(Sectors(many.size()) + 2);
    t.Place(many, 1);
    const int64_t stated = t.Stated(ftMatroska, 1);
    EXPECT_GT(stated, static_cast<int64_t>(head.size()) + 60000 * 15);
    EXPECT_LT(stated, static_cast<int64_t>(many.size()));
  }
  Bytes noDocTypeEnd = seekable;
  noDocTypeEnd[4 + 8 + 4 + 2 + 7] = 0x20;  // the DocType's size grows past the EBML header
  const std::vector<std::pair<const char*, Bytes>> refused = {
      {"other DocType", Cat({EbmlHeader("matroskb"), Element(kSegmentId, Cat({kInfo, kCluster}))})},
      {"DocType running out of the header", noDocTypeEnd},
      {"EBML header alone", Cat({EbmlHeader("matroska"), Bytes(700, 0)})},
      {"empty segment", Cat({EbmlHeader("matroska"), Element(kSegmentId, {}), kCluster})},
      {"segment of foreign elements", Cat({EbmlHeader("matroska"), Element(kSegmentId, Bytes(900, 0x42))})},
      {"stream without a cluster", Cat({head, kInfo, kVoid, kInfo, Bytes(600, 0)})},
      {"size field of nine bytes", Cat({EbmlHeader("webm"), kSegmentId, {0x00, 0x80}, kInfo, kCluster})},
      {"segment larger than the range", Cat({EbmlHeader("webm"), Element(kSegmentId, Cat({kInfo, Bytes(6000, 0)}))})},
  };
  for (const auto& [what, bytes] : refused) {
    MatroskaCard t(12);
    t.Place(Bytes(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 11 * 512)), 1);
    t.Recover(1);
    EXPECT_EQ(t.Stated(ftWebm, 1), 0) << what;
    EXPECT_EQ(t.ClaimedCount(), 0) << what;
    EXPECT_TRUE(t.Files().empty()) << what;
  }
}

}  // namespace
}  // namespace morvane
