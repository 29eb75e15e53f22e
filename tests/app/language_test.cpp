#include "app/language.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <optional>
#include <string>

#include "app/version.h"

namespace morvane {
namespace {

TEST(Language, ChosenByLocaleName) {
  EXPECT_EQ(LanguageForLocale("zh_CN"), Language::SimplifiedChinese);
  EXPECT_EQ(LanguageForLocale("zh_CN.UTF-8"), Language::SimplifiedChinese);
  EXPECT_EQ(LanguageForLocale("zh_SG.GBK"), Language::SimplifiedChinese);
  EXPECT_EQ(LanguageForLocale("zh_TW.Big5@x"), Language::TraditionalChinese);
  EXPECT_EQ(LanguageForLocale("zh_HK.UTF-8"), Language::TraditionalChinese);
  EXPECT_EQ(LanguageForLocale("zh_MO"), Language::TraditionalChinese);
  for (const char* other : {"", "C", "POSIX", "en_US.UTF-8", "zh", "zh_CNX", "de_DE@euro", "zh_tw"})
    EXPECT_EQ(LanguageForLocale(other), Language::English) << other;
}

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Language, EnvironmentOrderIsLcAllThenLcMessagesThenLang) {
  ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", "zh_TW.UTF-8");
  EXPECT_EQ(LanguageFromEnvironment(), Language::TraditionalChinese);
  {
    ScopedEnv m("LC_MESSAGES", "zh_CN.UTF-8");
    EXPECT_EQ(LanguageFromEnvironment(), Language::SimplifiedChinese);
    ScopedEnv a("LC_ALL", "en_GB.UTF-8");
    EXPECT_EQ(LanguageFromEnvironment(), Language::English);
  }
  ScopedEnv emptyAll("LC_ALL", "");  // set but empty: the next one decides
  EXPECT_EQ(LanguageFromEnvironment(), Language::TraditionalChinese);
  ScopedEnv noLang("LANG", nullptr);
  EXPECT_EQ(LanguageFromEnvironment(), Language::English);
}

TEST(FaceTexts, EnglishWording) {
  const TFaceTexts& en = FaceTextsFor(Language::English);
  EXPECT_EQ(en.Text(16), "Failed to open drive!");
  EXPECT_EQ(en.Text(17), "Error");
  EXPECT_EQ(en.Text(28), "Failed save file: \n\n");
  EXPECT_EQ(en.Text(34), "The file \"Morvane.dll\" error, program breaked!");
  EXPECT_EQ(en.Text(60),
            "Simple steps: 1. Select drive; 2. Open drive; 3. Select folder to store rescued "
            "files; 4. Select the reason of losing file; 5. Start rescue.");
  EXPECT_EQ(en.Text(90), "Select &All");
  EXPECT_EQ(en.Text(91), "Clea&r All");
  EXPECT_EQ(en.Text(92), "&Ok");
  EXPECT_EQ(en.Text(93), "&Cancel");
  EXPECT_EQ(en.Text(1), "Morvane Data Recovery " + std::string(kMorvaneVersion));
  EXPECT_EQ(en.Text(75), " " + std::string(kMorvaneVersion));
}

TEST(FaceTexts, AllLanguagesFillTheSameSlots) {
  const TFaceTexts& en = FaceTextsFor(Language::English);
  for (Language l : {Language::SimplifiedChinese, Language::TraditionalChinese}) {
    const TFaceTexts& zh = FaceTextsFor(l);
    for (int n = 0; n < kFaceTextCount; ++n) {
      EXPECT_EQ(en.Text(n).empty(), zh.Text(n).empty()) << "slot " << n;
      bool translatable = !en.Text(n).empty() && n != 75;  // the version text is a number
      if (translatable) {
        EXPECT_NE(en.Text(n), zh.Text(n)) << "slot " << n << " untranslated";
      }
    }
    EXPECT_TRUE(zh.Text(28).ends_with("\n\n"));
    for (int n = 90; n <= 93; ++n) EXPECT_NE(zh.Text(n).find('&'), std::string::npos) << n;
    EXPECT_NE(zh.Text(1).find(kMorvaneVersion), std::string::npos);
  }
  EXPECT_EQ(FaceTextsFor(Language::SimplifiedChinese).Text(2), "打开分区");
  EXPECT_EQ(FaceTextsFor(Language::SimplifiedChinese).Text(54), "停止");
  for (int n : {0, 7, 30, 31, 32, 33, 56, 57, 58, 59, 64, 71, 74, 79, 80})
    EXPECT_TRUE(en.Text(n).empty()) << n;
}

TEST(FaceTexts, NumbersOutsideTheTableGiveEmptyTexts) {
  const TFaceTexts& en = FaceTextsFor(Language::English);
  for (int n : {-1, kFaceTextCount, 1000, INT_MIN, INT_MAX}) EXPECT_EQ(en.Text(n), "") << n;
}

TEST(FaceTexts, FontsAndProcessWideChoice) {
  EXPECT_EQ(FaceTextsFor(Language::English).FontName(), "Tahoma");
  EXPECT_EQ(FaceTextsFor(Language::SimplifiedChinese).FontName(), "宋体");
  EXPECT_EQ(FaceTextsFor(Language::TraditionalChinese).FontName(), "細明體");

  EXPECT_EQ(&FaceTexts(), &FaceTextsFor(Language::English));
  InitFace(Language::TraditionalChinese);
  EXPECT_EQ(FaceTexts().Text(17), "錯誤");
  EXPECT_EQ(FaceTexts().FontName(), "細明體");
  InitFace(Language::English);
  EXPECT_EQ(FaceTexts().Text(17), "Error");
}

}  // namespace
}  // namespace morvane
