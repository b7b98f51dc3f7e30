// The Plimo language front end put together: a grammar component loaded with the Plimo descriptions and
// the node-class handler, and one call that turns a source text into a syntax tree.
#pragma once

#include <memory>
#include <string_view>

#include "lang/syntax.h"
#include "lang/yup.h"

namespace plimo {

// A grammar component holding the Plimo token and grammar descriptions, creating the G_ node classes.
std::unique_ptr<TYup> NewPlimoYup(TReporter& reporter);

// The result of reading one source. Members are declared so that the tree goes before its tokens.
struct TParsedSource {
    std::unique_ptr<TLexList> tokens;
    std::unique_ptr<TParseTree> tree; // null on a syntax error
    // On a syntax error: byte offset of the token the parser matched last (0 when none matched).
    long errorPosition = 0;
    // On a syntax error: the text nests deeper than the parser follows.
    bool tooDeep = false;

    G_Program* Program() const { return tree ? static_cast<G_Program*>(tree->Root()) : nullptr; }
};

// Lexes source, drops the comments, parses what is left.
TParsedSource ParsePlimoSource(TYup& yup, std::string_view source);

} // namespace plimo
