#include "filetypes/catalogue.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(Catalogue, ShortNames) {
  EXPECT_EQ(ShortNameOf("  DOC/DOCX/WPS"), "DOC");
  EXPECT_EQ(ShortNameOf("  RAW(TIF,DNG,ARW,CR2,CR3,NEF,ORF,PEF,SR2,RAF,X3F...)"), "RAW");
  EXPECT_EQ(ShortNameOf("  7Z"), "7Z");
  EXPECT_EQ(ShortNameOf("  AI/PDF "), "AI");

}

TEST(Catalogue, ParseTypeList) {
  std::string error;
  EXPECT_EQ(ParseTypeList("jpg", error), kTypeJpg);
  EXPECT_EQ(ParseTypeList(" Jpg , RAW,mp4 ,", error), kTypeJpg | kTypeRaw | kTypeMp4);
  EXPECT_EQ(ParseTypeList("ALL", error), kAllFileTypesMask);
  EXPECT_EQ(ParseTypeList("doc,all", error), kAllFileTypesMask);

  EXPECT_EQ(ParseTypeList("jpg,flac", error), std::nullopt);
  EXPECT_NE(error.find("\"flac\""), std::string::npos) << error;
  for (std::string_view name : {"JPG", "HEIC", "MKV", "ODF", "CDR", "CAB", "all"})
    EXPECT_NE(error.find(name), std::string::npos) << name;

  error.clear();
  EXPECT_EQ(ParseTypeList("", error), std::nullopt);
  EXPECT_FALSE(error.empty());
}

// Names people type select the kind whose item lists them, and the program says which.
TEST(Catalogue, CommonNamesSelectTheirKind) {
  std::string error;
  std::vector<std::string> notes;
  EXPECT_EQ(ParseTypeList("jpeg,TIFF,cr2,mpeg,mts,m2ts,docx,xlsx,pptx,7zip,pdf,mod", error, &notes),
            kTypeJpg | kTypeRaw | kTypeMpg | kTypeMts | kTypeDoc | kTypeXls | kTypePpt | kType7z | kTypeAi | kTypeVob)
      << error;
  EXPECT_EQ(ParseTypeList("m2t", error), kTypeTs);
  EXPECT_EQ(ParseTypeList("heic,heif,avif,webp,cr3,rar5,mkv,webm,odt,ods,odp,odg,epub", error),
            kTypeHeic | kTypeAvif | kTypeWebp | kTypeRaw | kTypeRar | kTypeMkv | kTypeOdf)
      << error;
  ASSERT_EQ(notes.size(), 11u);  // every alias, not the kind's own name (mts)
  EXPECT_EQ(notes[0], "jpeg selects JPG");
  EXPECT_EQ(notes[5], "docx selects DOC (DOC/DOCX/WPS)");
  notes.clear();
  EXPECT_EQ(ParseTypeList("jpg,Mp4", error, &notes), kTypeJpg | kTypeMp4);
  EXPECT_TRUE(notes.empty());
  // The chooser's groups by the words people use, and audio for the kinds that hold sound.
  EXPECT_EQ(ParseTypeList("photo", error, &notes), kTypeJpg | kTypeBmp | kTypePng | kTypeHeic | kTypeAvif | kTypeWebp | kTypeRaw);
  EXPECT_EQ(notes.back(), "photo selects JPG BMP PNG HEIC AVIF WEBP RAW");
  const uint32_t video = *ParseTypeList("Videos", error);
  EXPECT_TRUE((video & kTypeMkv) && (video & kTypeVob) && !(video & kTypeJpg));
  EXPECT_EQ(ParseTypeList("audio", error), kTypeWav | kTypeAsf);
  EXPECT_EQ(ParseTypeList("document,archive,drawing", error),
            kTypeDoc | kTypeXls | kTypePpt | kTypeOdf | kTypeRar | kTypeZip | kType7z | kTypeCab | kTypeAi | kTypeCdr);
  EXPECT_EQ(ParseTypeList("raw", error), kTypeRaw);
}

TEST(Catalogue, FormatShowsGroupsAndSelection) {
  std::string text = FormatCatalogue(kTypeJpg | kTypeVob);
  EXPECT_EQ(text.substr(0, text.find("Video")),
            "Picture\n"
            "  [x] JPG\n"
            "  [ ] BMP\n"
            "  [ ] PNG\n"
            "  [ ] HEIC HEIC/HEIF\n"
            "  [ ] AVIF\n"
            "  [ ] WEBP\n"
            "  [ ] RAW  RAW(TIF,DNG,ARW,CR2,CR3,NEF,ORF,PEF,SR2,RAF,X3F...)\n");
  EXPECT_NE(text.find("  [x] VOB  VOB/MOD\n"), std::string::npos);
  EXPECT_NE(text.find("Vectorgraph\n  [ ] AI   AI/PDF\n  [ ] CDR\n"), std::string::npos);
  EXPECT_EQ(text.find("Picture", 1), std::string::npos);  // one Picture group
}

}  // namespace
}  // namespace morvane
