// The system's version, in the forms it is shown, reported to scripts and stored in.
#pragma once

#include <cstdint>

namespace plimo {

inline constexpr const char* kVersionText = "1.15";      // shown to users
inline constexpr std::int32_t kVersionNumber = 1150;     // reported to scripts, stored in projects
inline constexpr std::int32_t kCacheFilePrefixNumber = 115; // prefixes cached files (c115_, i115_)

} // namespace plimo
