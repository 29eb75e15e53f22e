// The program's version, shown in the title bar and the version text.
#pragma once

#include <string_view>

namespace morvane {

inline constexpr std::string_view kMorvaneVersion = "0.1.0";

}  // namespace morvane
