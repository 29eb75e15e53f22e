// Shooting times from EXIF data.
//
// A photo's shooting time is the EXIF DateTimeOriginal text, "YYYY:MM:DD HH:MM:SS", turned
// into a day count (see scan/datetime.h). Both readers take hostile bytes: every offset is
// checked against the data before it is followed.
#pragma once

#include <string>
#include <string_view>

#include "scan/datetime.h"
#include "storage/bytes.h"

namespace morvane {

inline constexpr TDateTime kNoShootingTime = -1.0;

// Parses the 19-character EXIF form "YYYY:MM:DD HH:MM:SS". The five separators are not
// looked at. Valid for years 1900..2999 and dates that exist in the calendar. Returns
// false and sets time to kNoShootingTime on failure.
bool ParseExifDateTime(std::string_view text, TDateTime& time);

struct ExifShootingTime {
  bool Found = false;               // a DateTimeOriginal text was found
  std::string Text;                 // that text, blanks around it removed
  TDateTime Time = kNoShootingTime; // its value; kNoShootingTime when it does not parse
};

// Looks for DateTimeOriginal (0x9003) in the EXIF sub-IFD (0x8769) of the first APP1
// segment of a JPEG picture (the marker segments are walked from byte 2 up to the first
// start of scan). Only the first APP1 segment is examined.
ExifShootingTime ReadExifShootingTime(ByteView picture);

}  // namespace morvane
