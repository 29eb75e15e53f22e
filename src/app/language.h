// The interface texts in three languages, and the process-wide choice among them.
//
// Every message and caption of the program is a numbered text (slots 0..93); the front
// ends look them up by number. Texts are UTF-8. Slots the program does not use are empty
// in every language.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace morvane {

enum class Language { English, SimplifiedChinese, TraditionalChinese };

inline constexpr int kFaceTextCount = 94;

// Number of the text shown when the branding file is missing or damaged.
inline constexpr int kBrandingErrorText = 34;

// One language's table of texts and the font that goes with it.
class TFaceTexts {
 public:
  TFaceTexts(std::array<std::string, kFaceTextCount> texts, std::string fontName)
      : texts_(std::move(texts)), fontName_(std::move(fontName)) {}

  // Text number n; an empty text for a number outside 0..93.
  const std::string& Text(int n) const;
  const std::string& FontName() const { return fontName_; }

 private:
  std::array<std::string, kFaceTextCount> texts_;
  std::string fontName_;
};

// The language of a POSIX locale name such as "zh_CN.UTF-8" or "zh_TW.Big5@x": zh_CN and
// zh_SG give Simplified Chinese, zh_TW, zh_HK and zh_MO Traditional Chinese, anything else
// English.
Language LanguageForLocale(std::string_view locale);
// The language of the messages locale: LC_ALL, then LC_MESSAGES, then LANG; the first one
// set and not empty decides.
Language LanguageFromEnvironment();

// The table of a language; valid for the life of the process.
const TFaceTexts& FaceTextsFor(Language language);

// The process-wide table: English until InitFace chooses another. Front ends call
// InitFace once at start-up, before any other thread looks texts up.
void InitFace(Language language);
const TFaceTexts& FaceTexts();

}  // namespace morvane
