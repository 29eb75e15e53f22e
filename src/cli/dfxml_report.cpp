#include "cli/dfxml_report.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "app/version.h"
#include "cli/console.h"
#include "storage/streams.h"

namespace morvane::cli {
namespace {

constexpr const char* kClosing = "</dfxml>\n";

}  // namespace

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string XmlText(const std::string& text) {
  // JsonPath keeps valid UTF-8 and writes every other byte as %XX; control characters,
  // which XML 1.0 does not allow, go the same way.
  std::string out;
  for (char c : JsonPath(text)) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (u < 0x20 && c != '\t') {
          static const char* hex = "0123456789ABCDEF";
          out += {'%', hex[u >> 4], hex[u & 15]};
        } else {
          out += c;
        }
    }
  }
  return out;
}

DfxmlReport::~DfxmlReport() = default;

bool DfxmlReport::WriteAtEnd(const std::string& body) {
  if (failed_) return false;
  const std::string text = body + kClosing;
  const auto size = static_cast<int64_t>(text.size());
  errno = 0;
  if (file_->Seek(bodyEnd_, soBeginning) != bodyEnd_ || file_->Write(text.data(), size) != size) {
    failed_ = true;
    error_ = errno != 0 ? errno : EIO;
    errno = error_;
    return false;
  }
  bodyEnd_ += static_cast<int64_t>(body.size());
  return true;
}

bool DfxmlReport::Open(const std::string& path, const std::string& commandLine, const std::string& startTime,
                       const std::string& imageName, uint32_t sectorSize) {
  errno = 0;
  file_ = OpenOutputFileStream(path, fmCreate);
  if (!file_) {
    failed_ = true;
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  sectorSize_ = std::max<uint32_t>(sectorSize, 1);
  const std::string head =
      "<?xml version='1.0' encoding='UTF-8'?>\n"
      "<dfxml xmlns='http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML'"
      " xmlns:dc='http://purl.org/dc/elements/1.1/' version='2.0.0-beta.0'>\n"
      "  <metadata>\n    <dc:type>Carve Report</dc:type>\n  </metadata>\n"
      "  <creator>\n    <program>morvane</program>\n    <version>" +
      std::string(kMorvaneVersion) +
      "</version>\n    <execution_environment>\n      <command_line>" + XmlText(commandLine) +
      "</command_line>\n      <start_time>" + XmlText(startTime) +
      "</start_time>\n    </execution_environment>\n  </creator>\n"
      "  <source>\n    <image_filename>" + XmlText(imageName) +
      "</image_filename>\n  </source>\n"
      "  <diskimageobject>\n    <sector_size>" + std::to_string(sectorSize_) +
      "</sector_size>\n  </diskimageobject>\n";
  return WriteAtEnd(head);
}

bool DfxmlReport::Add(const DfxmlFile& f) {
  if (!file_) return false;
  std::string x = "  <fileobject>\n    <filename>" + XmlText(f.Name) + "</filename>\n    <filesize>" +
                  std::to_string(f.Length) + "</filesize>\n    <byte_runs>\n";
  // The runs hold whole sectors; the file ends inside the last one it uses.
  int64_t fileOffset = 0;
  for (const SectorRun& r : f.Runs) {
    if (fileOffset >= f.Length) break;
    const int64_t len = std::min<int64_t>(r.Count * sectorSize_, f.Length - fileOffset);
    x += "      <byte_run file_offset='" + std::to_string(fileOffset) + "' img_offset='" +
         std::to_string(r.First * sectorSize_) + "' len='" + std::to_string(len) + "'/>\n";
    fileOffset += len;
  }
  // A file cut by the end of the range ends in zeros that lie nowhere on the source.
  if (fileOffset < f.Length)
    x += "      <byte_run file_offset='" + std::to_string(fileOffset) + "' len='" + std::to_string(f.Length - fileOffset) +
         "' fill='0'/>\n";
  x += "    </byte_runs>\n";
  if (!f.Sha256.empty()) x += "    <hashdigest type='sha256'>" + f.Sha256 + "</hashdigest>\n";
  x += "  </fileobject>\n";
  return WriteAtEnd(x);
}

}  // namespace morvane::cli
