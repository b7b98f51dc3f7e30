// Compiled code as text: one block's listing lines, and the whole of a class for --dump-code.
#pragma once

#include <string>
#include <vector>

namespace plimo {

class TCompiledInfo;
class TRTTI;

// The block's listing, one line per instruction; without the address column when !withAddress.
std::vector<std::string> BlockListing(const TCompiledInfo& code, bool withAddress);

// Every block of the class: the main code, then each function of its own by slot, under a heading
// line with its kind, name, arguments and locals. Inherited functions are only counted: they are
// listed with the class that declares them.
std::vector<std::string> ClassListing(const TRTTI& cls);

} // namespace plimo
