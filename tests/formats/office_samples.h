// The office document and archive samples of tests/data/office. Samples that compress well
// are kept as .xz and unpacked with the xz tool when read.
#pragma once

#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane::test {

// The sample's bytes; empty when it is an .xz sample and xz is missing.
inline std::vector<uint8_t> OfficeSample(const std::string& name) {
  const std::string path = DataPath("office/" + name);
  if (name.size() < 3 || name.compare(name.size() - 3, 3, ".xz") != 0) return ReadFileBytes(path);
  if (!HaveTool("xz")) return {};
  TempDir dir;
  const std::string out = dir / "sample";
  if (Run("xz -dc '" + path + "' > '" + out + "'") != 0) return {};
  return ReadFileBytes(out);
}

}  // namespace morvane::test
