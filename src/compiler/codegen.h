// Code generation: turns the syntax tree of one class into its functions, code blocks and members.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "compiler/context.h"

namespace plimo {

class TResultList;

// Generates one node of the tree (the whole class when given the root). Returns the argument count
// for an argument list and 0 for everything else, as the node classes' Generate does.
std::int32_t Generate(TContext& ctx, const TResultList* node);

// The bytes a string literal stands for: the text between its quotes with the escapes resolved.
// A double-byte character is copied whole, so its second byte is never taken as a backslash.
std::string DecodeStringLiteral(std::string_view literal);

// The string literal, quotes included, that DecodeStringLiteral turns back into text. Bytes below 32
// other than tab, CR and LF have no literal form and are left out.
std::string EncodeStringLiteral(std::string_view text);

} // namespace plimo
