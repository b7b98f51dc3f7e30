// The natives of the kernel's String class: bodies, concatenation, substrings, lengths, split.
#pragma once

#include <span>

#include "classes/native_bridge.h"

namespace plimo {

// In binding order.
std::span<const TNativeEntry> StringNatives();

// The piece [start, end) of a text with the natives' clipping rules: a start at or past the end, or an
// end before the start, gives nothing; a negative start begins at 0 and still takes end - start units.
// Positions count bytes, or characters when wide is set.
std::string SubstringOf(std::string_view text, std::int32_t start, std::int32_t end, bool wide);

} // namespace plimo
