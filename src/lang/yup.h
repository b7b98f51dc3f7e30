// The grammar engine: indented token and grammar descriptions turned into a lexer and an ordered-choice
// parser whose result is a tree of result lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/report.h"

namespace plimo {

class TResultList;
class TYup;

// Raised while building the rule trees when the grammar cannot be built at all.
class EYupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A set of the 256 byte values: bit (b mod 32) of word (b div 32) stands for byte b.
class TFirst {
public:
    bool Add(unsigned char b) {
        std::uint32_t bit = 1u << (b & 31);
        if (m_words[b >> 5] & bit) return false;
        m_words[b >> 5] |= bit;
        return true;
    }
    bool AddAll(const TFirst& other) {
        bool added = false;
        for (int i = 0; i < 8; ++i) {
            std::uint32_t w = m_words[i] | other.m_words[i];
            added |= w != m_words[i];
            m_words[i] = w;
        }
        return added;
    }
    bool Test(unsigned char b) const { return (m_words[b >> 5] >> (b & 31)) & 1u; }
    void AddRange(unsigned char low, unsigned char high) {
        for (int b = low; b <= high; ++b) Add(static_cast<unsigned char>(b));
    }
    void AddEvery() { m_words.fill(~0u); }

private:
    std::array<std::uint32_t, 8> m_words{};
};

// Repetition bound that stands for "no limit" in both descriptions.
inline constexpr std::int32_t kYupUnbounded = 123456;

// One node of the token rule tree.
struct TLexNode {
    enum Kind : std::uint8_t { Sequence = 0, Choice = 1, Literal = 2, Range = 3, Reference = 4 };

    TFirst first;
    std::vector<TLexNode> children; // sized once when built, so links into it stay valid
    std::string name;               // the text after the marker
    std::string literal;            // bytes of a literal
    const TLexNode* link = nullptr; // the node itself, or the top-level rule a reference names
    Kind kind = Sequence;
    unsigned char low = 0, high = 0;
    std::int32_t min = 1, max = 1;
    std::int32_t topIndex = -1; // position among the top-level rules; -1 below the top level
    // For a sequence whose last child is a literal (a block comment's "*/", a string's closing quote):
    // that literal's index among the yup's closing literals, else -1.
    std::int32_t closer = -1;

    std::int32_t count() const { return static_cast<std::int32_t>(children.size()); }
};

// One node of the grammar rule tree.
struct TGramNode {
    enum Kind : std::uint8_t { Sequence = 0, Choice = 1, Terminal = 2, Reference = 4 };

    std::unique_ptr<TResultList> prototype; // what OnCreateList returned for the node's name
    std::vector<TGramNode> children;
    std::string name;
    const TGramNode* link = nullptr;
    Kind kind = Sequence;
    std::int32_t min = 1, max = 1;

    // Derived when built: the token rule a terminal stands for, and which tokens can start a match
    // (an over-estimate the parser uses to skip alternatives that cannot match without side effects).
    const TLexNode* token = nullptr;
    std::uint32_t id = 0;
    bool nullable = false;
    std::array<std::uint64_t, 4> startTokens{}; // bit per token rule index (capped at 254); 255 = end

    std::int32_t count() const { return static_cast<std::int32_t>(children.size()); }
};

// One token: the top-level token rule that matched it and where its text lies in the source.
class TLexElem {
public:
    TLexElem(const TLexNode* rule, const char* text, std::uint32_t start, std::uint32_t length)
        : m_rule(rule), m_text(text), m_start(start), m_length(length) {}

    const TLexNode* Rule() const { return m_rule; }
    const std::string& RuleName() const { return m_rule->name; }
    // The token's bytes (valid while its TLexList lives).
    std::string_view Text() const { return {m_text, m_length}; }
    // Byte offset of the token's first byte from the start of the source.
    long Position() const { return m_start; }
    long End() const { return static_cast<long>(m_start) + m_length; }

private:
    const TLexNode* m_rule;
    const char* m_text;
    std::uint32_t m_start, m_length;
};

// The tokens of one source in source order, with the parse cursor and the error position.
class TLexList {
public:
    TLexList(const TLexList&) = delete;
    TLexList& operator=(const TLexList&) = delete;

    int Count() const { return static_cast<int>(m_elems.size()); }
    const TLexElem& operator[](int i) const { return m_elems[i]; }
    auto begin() const { return m_elems.begin(); }
    auto end() const { return m_elems.end(); }
    std::string_view Source() const { return m_source; }

    // Drops every token of the named rule, keeping the order of the rest (comments before parsing).
    void RemoveRule(std::string_view ruleName);

    // Index of the next token to parse.
    int cursor = 0;
    // Start of the token most recently matched by a terminal: where a failed parse is reported.
    long lastMatched = 0;
    // Set when the last parse gave up because the text nests deeper than the parser allows.
    bool nestingTooDeep = false;

private:
    friend class TYup;
    explicit TLexList(std::string_view source) : m_source(source) {}
    std::string m_source;
    std::vector<TLexElem> m_elems;
};

// Bump allocator for the nodes of one tree; everything it holds is freed at once.
class TNodeArena {
public:
    TNodeArena() = default;
    TNodeArena(const TNodeArena&) = delete;
    TNodeArena& operator=(const TNodeArena&) = delete;

    void* Allocate(std::size_t size, std::size_t align);
    template <class T> T* New() { return new (Allocate(sizeof(T), alignof(T))) T(); }
    std::size_t BytesUsed() const { return m_used; }

private:
    std::vector<std::unique_ptr<std::byte[]>> m_chunks;
    std::byte* m_cur = nullptr;
    std::byte* m_end = nullptr;
    std::size_t m_used = 0;
};

// One item of a result list: a token (for a terminal) or a nested list (for a sequence).
class TResultItem {
public:
    TResultItem() = default;
    explicit TResultItem(const TLexElem* token) : m_bits(reinterpret_cast<std::uintptr_t>(token)) {}
    explicit TResultItem(TResultList* list) : m_bits(reinterpret_cast<std::uintptr_t>(list) | 1u) {}

    bool IsList() const { return m_bits & 1u; }
    bool IsToken() const { return !IsList(); }
    // Null when the item is of the other sort.
    const TLexElem* Token() const { return IsList() ? nullptr : reinterpret_cast<const TLexElem*>(m_bits); }
    TResultList* List() const {
        return IsList() ? reinterpret_cast<TResultList*>(m_bits & ~std::uintptr_t(1)) : nullptr;
    }

private:
    std::uintptr_t m_bits = 0;
};

// The matches of one grammar node in input order. Lists live in their tree's arena and hold no
// resources of their own: subclasses (the syntax-tree node classes) must add no owning fields.
class TResultList {
public:
    TResultList() = default;
    TResultList(const TResultList&) = delete;
    TResultList& operator=(const TResultList&) = delete;
    virtual ~TResultList() = default;

    // A fresh, empty list of the same class, placed in the arena. Every subclass overrides it.
    virtual TResultList* NewInstance(TNodeArena& arena) const { return arena.New<TResultList>(); }

    int Count() const { return static_cast<int>(m_count); }
    bool Empty() const { return m_count == 0; }
    const TResultItem& Item(int i) const { return m_items[i]; }
    const TResultItem* begin() const { return m_items; }
    const TResultItem* end() const { return m_items + m_count; }
    // Item i as a list / as a token; null when it is the other sort.
    TResultList* List(int i) const { return m_items[i].List(); }
    const TLexElem* Token(int i) const { return m_items[i].Token(); }
    // Text of token item i; empty when item i is a list.
    std::string_view Text(int i) const;

    // The grammar node whose matches these are, and its name ("" for unnamed groups).
    const TGramNode* Rule() const { return m_rule; }
    std::string_view RuleName() const;
    // The first token inside the list (searching nested lists), null when the list matched nothing.
    const TLexElem* FirstToken() const;
    // Byte offset of FirstToken(), -1 when there is none.
    long Position() const;

private:
    friend class TParser;
    const TGramNode* m_rule = nullptr;
    TResultItem* m_items = nullptr;
    std::uint32_t m_count = 0;
    std::uint32_t m_startToken = 0, m_endToken = 0; // token index range matched
    long m_lastAfter = -1; // error position the parse left behind, -1 when it matched no terminal
};

// The tree of one successful parse: owns every list in it. Destroy it before its TLexList.
class TParseTree {
public:
    TResultList* Root() const { return m_root; }
    std::size_t BytesUsed() const { return m_arena.BytesUsed(); }

private:
    friend class TParser;
    TNodeArena m_arena;
    TResultList* m_root = nullptr;
};

// The record OnCreateList receives: the node's name, and the prototype the handler stores.
struct TResListGetter {
    std::string name;
    std::unique_ptr<TResultList> list;
};
using TCrLst = std::function<void(TResListGetter& p)>;

// Deepest nesting of grammar rules a parse follows before it gives up (keeps deep texts off the stack).
inline constexpr int kMaxParseDepth = 3000;

// Debug switch of the parser, off by default: plain ordered choice without its two shortcuts (skipping
// rules that cannot start with the current token, reusing lists thrown away by failed attempts), giving
// up after maxSteps rule attempts when maxSteps is not 0 (the plain parse can take exponential time).
// The fuzz target and the syntax tests compare both parses; a give-up sets nestingTooDeep.
struct TYupPlainParse {
    bool on = false;
    std::uint64_t maxSteps = 0;
};

// The grammar component: holds both descriptions, builds the rule trees on first use, lexes and parses.
class TYup {
public:
    explicit TYup(TReporter& reporter);
    ~TYup();
    TYup(const TYup&) = delete;
    TYup& operator=(const TYup&) = delete;

    // Setting a description copies the lines; they are read only by the first Lex.
    void SetLexNode(std::vector<std::string> lines) { m_lexLines = std::move(lines); }
    void SetGramNode(std::vector<std::string> lines) { m_gramLines = std::move(lines); }
    const std::vector<std::string>& LexNode() const { return m_lexLines; }
    const std::vector<std::string>& GramNode() const { return m_gramLines; }
    void SetOnCreateList(TCrLst handler) { m_onCreateList = std::move(handler); }

    // Builds the rule trees if not yet built, then cuts text into tokens. Throws EYupError when the
    // grammar cannot be built (no OnCreateList handler).
    std::unique_ptr<TLexList> Lex(std::string_view text);
    // Parses the whole token list with the first grammar rule; null when the text does not match
    // (tokens.lastMatched then tells where parsing stopped).
    std::unique_ptr<TParseTree> Parse(TLexList& tokens);

    void SetPlainParse(TYupPlainParse plain) { m_plainParse = plain; }

    bool Built() const { return m_built; }
    const TLexNode* LexRoot() const { return m_lexRoot.get(); }
    const TGramNode* GramRoot() const { return m_gramRoot.get(); }

private:
    friend class TParser;
    void Build();
    void BuildLexer();
    void BuildGrammar();
    void FaultBox(std::string_view text);
    std::size_t MatchLex(const TLexNode* node, const unsigned char* text, std::size_t size, std::size_t pos,
                         int depth) const;

    TReporter& m_reporter;
    std::vector<std::string> m_lexLines, m_gramLines;
    TCrLst m_onCreateList;
    bool m_built = false;
    std::unique_ptr<TLexNode> m_lexRoot;
    std::unique_ptr<TGramNode> m_gramRoot;
    // Lexing candidates by first byte: indices into the top-level token rules before "*Stop".
    std::array<std::uint32_t, 257> m_candStart{};
    std::vector<std::uint16_t> m_candidates;
    // The distinct closing literals of sequences, and where each last occurs in the text being lexed
    // (npos when nowhere): a sequence cannot complete an iteration at a position after that.
    std::vector<std::string> m_closers;
    std::vector<std::size_t> m_lastCloser;
    std::uint32_t m_gramNodeCount = 0;
    TYupPlainParse m_plainParse;
};

} // namespace plimo
