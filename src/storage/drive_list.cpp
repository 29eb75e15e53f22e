#include "storage/drive_list.h"

#include <algorithm>

#include "storage/streams.h"

namespace morvane {

std::string TrimText(std::string s) {
  auto notSpace = [](unsigned char c) { return c > ' '; };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  return s;
}

std::string DiskDescription(const std::string& vendor, const std::string& product) {
  std::string v = TrimText(vendor), p = TrimText(product);
  if (v.empty() || p.empty()) return p.empty() ? std::string() : " " + p;
  return " " + v + " " + p;
}

std::string DiskItemText(bool removable, int number, const std::string& description, int64_t sizeBytes) {
  return std::string(removable ? "RM" : "HD") + std::to_string(number) + description + " (" +
         FormatDiskSize(sizeBytes) + ")";
}

}  // namespace morvane
