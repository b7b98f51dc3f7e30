// The token and grammar descriptions of the Plimo language, line for line as the grammar component reads
// them.
#pragma once

#include <string>
#include <vector>

namespace plimo {

// Root "Lexical": keywords, operators, COMM, NUM, STRING, SYMBOL, then "*Stop" and the helper rules.
const std::vector<std::string>& PlimoTokenDescription();
// Root "Grammar": the rules from Program (the start rule) to VarDecl, ended by "@".
const std::vector<std::string>& PlimoGrammarDescription();

} // namespace plimo
