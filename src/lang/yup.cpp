#include "lang/yup.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "platform/text.h"

namespace plimo {

namespace {

const SysText kFaultBoxPrefix("バグ発生:");
constexpr const char* kExtraSpace = "Wanring: extra space in ";
constexpr const char* kBadRangeBound = "Please Put '' or $ at the first letters of each children";
constexpr const char* kNotLinked = " is not linked.";
constexpr const char* kNoHandler = "No onCreateList Assigned";

// Descriptions are written by the host, so their nesting is small; this only keeps a broken one (or a
// rule that refers back to itself) from running off the stack.
constexpr int kMaxDescriptionDepth = 200;
constexpr int kMaxLexDepth = 256;
constexpr std::size_t kNoMatch = std::numeric_limits<std::size_t>::max();
// Token rule index that stands for "past the last token" in the grammar's start-token sets.
constexpr unsigned kEndToken = 255;
constexpr unsigned kLastTokenBit = 254;

int DepthOf(std::string_view line) {
    int d = 0;
    while (d < static_cast<int>(line.size()) && line[d] == ' ') ++d;
    return d;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "$hh": the byte value, or -1 when the two digits are missing.
int HexByte(std::string_view text) {
    if (text.size() < 3 || text[0] != '$') return -1;
    int hi = HexDigit(text[1]), lo = HexDigit(text[2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

std::int32_t RepeatLimit(std::int32_t max) {
    // The descriptions write "no limit" as 123456; a longer comment or statement list is still one match.
    return max == kYupUnbounded ? std::numeric_limits<std::int32_t>::max() : max;
}

// Reads an indented description into a node tree. Shared by both descriptions; the node type's own
// marker reader fills in kind, name and bounds.
template <class Node> class TDescriptionReader {
public:
    using MarkerReader = std::function<void(Node&, std::string_view text, std::size_t line, int depth)>;

    TDescriptionReader(const std::vector<std::string>& lines, TReporter& reporter, MarkerReader readMarker)
        : m_lines(lines), m_reporter(reporter), m_readMarker(std::move(readMarker)) {
        if (!lines.empty()) {
            int rootDepth = DepthOf(lines[0]);
            m_end = 1;
            while (m_end < lines.size() && DepthOf(lines[m_end]) > rootDepth) ++m_end;
        }
    }

    bool Empty() const { return m_lines.empty(); }
    // The text of line i with n characters removed, or "" past the end of the description.
    std::string_view LineAfter(std::size_t i, std::size_t n) const {
        if (i >= m_end) return {};
        std::string_view l = m_lines[i];
        return l.substr(std::min(n, l.size()));
    }

    void Build(Node& node, std::size_t i, int level = 0) {
        std::string_view line = m_lines[i];
        int d = DepthOf(line);
        if (!line.empty() && line.back() == ' ')
            m_reporter.ReportMessage(std::string(kExtraSpace) + std::string(line));
        node.link = &node;
        m_readMarker(node, line.substr(d), i, d);

        std::size_t subtreeEnd = i + 1;
        while (subtreeEnd < m_end && DepthOf(m_lines[subtreeEnd]) > d) ++subtreeEnd;
        std::size_t count = 0;
        for (std::size_t j = i + 1; j < subtreeEnd; ++j) count += DepthOf(m_lines[j]) == d + 1;
        if (level >= kMaxDescriptionDepth) count = 0;
        node.children.resize(count);
        std::size_t k = 0;
        for (std::size_t j = i + 1; j < subtreeEnd; ++j)
            if (DepthOf(m_lines[j]) == d + 1) Build(node.children[k++], j, level + 1);
    }

private:
    const std::vector<std::string>& m_lines;
    TReporter& m_reporter;
    MarkerReader m_readMarker;
    std::size_t m_end = 0;
};

// The markers both descriptions share: a choice, the three repetitions, and a bare name (a reference).
template <class Node> void ReadSharedMarker(Node& n, std::string_view text) {
    if (text.starts_with('|')) {
        n.kind = Node::Choice;
        n.name = text.substr(1);
    } else if (text.starts_with("[]")) {
        n.min = 0;
        n.name = text.substr(2);
    } else if (text.starts_with('[')) { // "[" and any second character: one or more
        n.max = kYupUnbounded;
        n.name = text.substr(std::min<std::size_t>(2, text.size()));
    } else if (text.starts_with('{')) {
        n.min = 0;
        n.max = kYupUnbounded;
        n.name = text.substr(std::min<std::size_t>(2, text.size()));
    } else {
        n.kind = Node::Reference;
        n.name = text;
    }
}

// Links references among the top-level rules; a reference to itself or to nothing becomes a plain group.
template <class Node> void LinkReferences(Node& node, std::vector<Node>& tops) {
    if (node.kind == Node::Reference) {
        const Node* target = nullptr;
        for (const Node& t : tops)
            if (t.name == node.name) {
                target = &t;
                break;
            }
        if (target && target != &node) {
            node.link = target;
        } else {
            node.kind = Node::Sequence;
            node.min = node.max = 1;
            node.link = &node;
        }
    }
    for (Node& c : node.children) LinkReferences(c, tops);
}

template <class Node, class F> void ForEachNode(Node& node, F&& f) {
    f(node);
    for (Node& c : node.children) ForEachNode(c, f);
}

bool UpdateLexFirst(TLexNode& node) {
    bool changed = false;
    for (TLexNode& c : node.children) changed |= UpdateLexFirst(c);
    switch (node.kind) {
    case TLexNode::Choice:
        for (const TLexNode& c : node.children) changed |= node.first.AddAll(c.first);
        break;
    case TLexNode::Reference:
        if (node.link != &node) changed |= node.first.AddAll(node.link->first);
        break;
    case TLexNode::Sequence:
        if (!node.children.empty()) changed |= node.first.AddAll(node.children[0].first);
        break;
    default:
        break;
    }
    return changed;
}

void AddTokenBit(std::array<std::uint64_t, 4>& set, unsigned bit) {
    set[bit >> 6] |= std::uint64_t(1) << (bit & 63);
}

bool MergeTokenBits(std::array<std::uint64_t, 4>& into, const std::array<std::uint64_t, 4>& from) {
    bool changed = false;
    for (int i = 0; i < 4; ++i) {
        std::uint64_t w = into[i] | from[i];
        changed |= w != into[i];
        into[i] = w;
    }
    return changed;
}

// One pass of the start-token estimate over a grammar subtree (children first). A node is nullable when
// it might succeed without consuming a token; its start set holds every token it might begin with.
bool UpdateStartTokens(TGramNode& node) {
    bool changed = false;
    for (TGramNode& c : node.children) changed |= UpdateStartTokens(c);
    bool nullable = node.nullable;
    switch (node.kind) {
    case TGramNode::Terminal:
        if (node.token) {
            std::array<std::uint64_t, 4> bit{};
            AddTokenBit(bit, std::min<unsigned>(node.token->topIndex, kLastTokenBit));
            changed |= MergeTokenBits(node.startTokens, bit);
        }
        break;
    case TGramNode::Reference:
        changed |= MergeTokenBits(node.startTokens, node.link->startTokens);
        nullable |= node.link->nullable;
        break;
    case TGramNode::Choice:
        for (const TGramNode& c : node.children) {
            changed |= MergeTokenBits(node.startTokens, c.startTokens);
            nullable |= c.nullable;
        }
        break;
    case TGramNode::Sequence: {
        bool allNullable = true;
        for (const TGramNode& c : node.children) {
            changed |= MergeTokenBits(node.startTokens, c.startTokens);
            if (!c.nullable) {
                allNullable = false;
                break;
            }
        }
        nullable |= node.min == 0 || (!node.children.empty() && allNullable);
        break;
    }
    }
    changed |= nullable != node.nullable;
    node.nullable = nullable;
    return changed;
}

} // namespace

// ---- arena and result lists -------------------------------------------------------------------------

namespace {
std::uintptr_t AlignUp(std::uintptr_t p, std::size_t align) {
    return (p + align - 1) & ~(std::uintptr_t(align) - 1);
}
} // namespace

void* TNodeArena::Allocate(std::size_t size, std::size_t align) {
    constexpr std::size_t kChunk = 64 * 1024;
    std::uintptr_t aligned = AlignUp(reinterpret_cast<std::uintptr_t>(m_cur), align);
    m_used += size;
    if (m_cur && aligned + size <= reinterpret_cast<std::uintptr_t>(m_end)) {
        m_cur = reinterpret_cast<std::byte*>(aligned + size);
        return reinterpret_cast<void*>(aligned);
    }
    if (size + align > kChunk / 4) {
        // Big requests (long flat lists) get a chunk of their own; the current chunk stays in use.
        m_chunks.emplace_back(new std::byte[size + align]); // uninitialised: every byte is written before use
        return reinterpret_cast<void*>(
            AlignUp(reinterpret_cast<std::uintptr_t>(m_chunks.back().get()), align));
    }
    m_chunks.emplace_back(new std::byte[kChunk]);
    m_cur = m_chunks.back().get();
    m_end = m_cur + kChunk;
    aligned = AlignUp(reinterpret_cast<std::uintptr_t>(m_cur), align);
    m_cur = reinterpret_cast<std::byte*>(aligned + size);
    return reinterpret_cast<void*>(aligned);
}

std::string_view TResultList::Text(int i) const {
    const TLexElem* t = Token(i);
    return t ? t->Text() : std::string_view();
}

std::string_view TResultList::RuleName() const {
    return m_rule ? std::string_view(m_rule->name) : std::string_view();
}

const TLexElem* TResultList::FirstToken() const {
    // Iterative descent: the first item of a list may itself be a deeply nested list.
    const TResultList* list = this;
    for (;;) {
        const TResultList* next = nullptr;
        for (const TResultItem& item : *list) {
            if (item.IsToken()) return item.Token();
            if (item.List()->m_startToken != item.List()->m_endToken) {
                next = item.List();
                break;
            }
        }
        if (!next) return nullptr;
        list = next;
    }
}

long TResultList::Position() const {
    const TLexElem* t = FirstToken();
    return t ? t->Position() : -1;
}

void TLexList::RemoveRule(std::string_view ruleName) {
    std::erase_if(m_elems, [&](const TLexElem& e) { return e.RuleName() == ruleName; });
}

// ---- building ---------------------------------------------------------------------------------------

TYup::TYup(TReporter& reporter) : m_reporter(reporter) {}
TYup::~TYup() = default;

void TYup::FaultBox(std::string_view text) {
    std::string msg = kFaultBoxPrefix.sjis();
    msg += text;
    m_reporter.ReportMessage(msg);
}

void TYup::Build() {
    BuildLexer();
    BuildGrammar(); // throws when no handler is set: the flag stays clear and nothing parses
    m_built = true;
}

void TYup::BuildLexer() {
    m_lexRoot.reset();
    m_candidates.clear();
    m_candStart.fill(0);
    m_closers.clear();
    TDescriptionReader<TLexNode>* self = nullptr;
    TDescriptionReader<TLexNode> reader(
        m_lexLines, m_reporter, [&](TLexNode& n, std::string_view text, std::size_t line, int depth) {
            n.kind = TLexNode::Sequence;
            n.min = n.max = 1;
            if (!text.empty() && text[0] == '\'') {
                n.kind = TLexNode::Literal;
                n.name = text.substr(1);
                n.literal = n.name;
                // An empty literal matches without consuming; it is tried wherever it may appear.
                if (n.literal.empty())
                    n.first.AddEvery();
                else
                    n.first.Add(static_cast<unsigned char>(n.literal[0]));
            } else if (HexByte(text) >= 0) {
                n.kind = TLexNode::Literal;
                n.name = text.substr(1);
                n.literal.assign(1, static_cast<char>(HexByte(text)));
                n.first.Add(static_cast<unsigned char>(n.literal[0]));
            } else if (!text.empty() && text[0] == '-') {
                n.kind = TLexNode::Range;
                n.name = text.substr(1);
                unsigned char bound[2] = {0, 0};
                for (int k = 0; k < 2; ++k) {
                    std::string_view b = self->LineAfter(line + 1 + k, depth + 1);
                    int v = 0;
                    if (!b.empty() && b[0] == '\'')
                        v = b.size() > 1 ? static_cast<unsigned char>(b[1]) : 0;
                    else if (!b.empty() && b[0] == '$')
                        v = std::max(HexByte(b), 0);
                    if (v == 0) FaultBox(kBadRangeBound);
                    bound[k] = static_cast<unsigned char>(v);
                }
                n.low = bound[0];
                n.high = bound[1];
                if (n.low <= n.high) n.first.AddRange(n.low, n.high);
            } else {
                ReadSharedMarker(n, text);
                // An optional part or a repetition that may be empty can stand before any byte.
                if (n.kind == TLexNode::Sequence && n.min == 0) n.first.AddEvery();
            }
        });
    self = &reader;
    if (reader.Empty()) return;
    m_lexRoot = std::make_unique<TLexNode>();
    reader.Build(*m_lexRoot, 0);

    std::vector<TLexNode>& tops = m_lexRoot->children;
    for (std::size_t i = 0; i < tops.size(); ++i) tops[i].topIndex = static_cast<std::int32_t>(i);
    LinkReferences(*m_lexRoot, tops);
    for (bool changed = true; changed;) {
        changed = false;
        for (TLexNode& t : tops) changed |= UpdateLexFirst(t);
    }

    // Every iteration of a sequence ends by matching its last child; when that is a literal which no
    // longer occurs in the rest of the text, the sequence can be answered without walking its body.
    // Without this an unclosed "/*" ahead of many others made each of them scan to the end.
    ForEachNode(*m_lexRoot, [&](TLexNode& n) {
        if (n.kind != TLexNode::Sequence || n.children.empty()) return;
        const TLexNode* last = n.children.back().link;
        if (last->kind != TLexNode::Literal || last->literal.empty()) return;
        auto it = std::find(m_closers.begin(), m_closers.end(), last->literal);
        n.closer = static_cast<std::int32_t>(it - m_closers.begin());
        if (it == m_closers.end()) m_closers.push_back(last->literal);
    });

    std::size_t stop = 0;
    while (stop < tops.size() && tops[stop].name != "*Stop") ++stop;
    for (int b = 0; b < 256; ++b) {
        m_candStart[b] = static_cast<std::uint32_t>(m_candidates.size());
        for (std::size_t r = 0; r < stop; ++r)
            if (tops[r].first.Test(static_cast<unsigned char>(b)))
                m_candidates.push_back(static_cast<std::uint16_t>(r));
    }
    m_candStart[256] = static_cast<std::uint32_t>(m_candidates.size());
}

void TYup::BuildGrammar() {
    m_gramRoot.reset();
    m_gramNodeCount = 0;
    if (m_gramLines.empty()) return;
    if (!m_onCreateList) throw EYupError(kNoHandler);
    const std::vector<TLexNode>* lexTops = m_lexRoot ? &m_lexRoot->children : nullptr;
    TDescriptionReader<TGramNode> reader(
        m_gramLines, m_reporter, [&](TGramNode& n, std::string_view text, std::size_t, int) {
            n.kind = TGramNode::Sequence;
            n.min = n.max = 1;
            n.id = m_gramNodeCount++;
            if (!text.empty() && text[0] == '\'') {
                n.kind = TGramNode::Terminal;
                n.name = text.substr(1);
                if (lexTops)
                    for (const TLexNode& t : *lexTops)
                        if (t.name == n.name) {
                            n.token = &t;
                            break;
                        }
                if (!n.token) FaultBox(n.name + kNotLinked);
            } else {
                ReadSharedMarker(n, text);
            }
            TResListGetter p{n.name, nullptr};
            m_onCreateList(p);
            // A handler that stores nothing still gets lists: plain ones.
            n.prototype = p.list ? std::move(p.list) : std::make_unique<TResultList>();
        });
    m_gramRoot = std::make_unique<TGramNode>();
    reader.Build(*m_gramRoot, 0);
    LinkReferences(*m_gramRoot, m_gramRoot->children);
    for (bool changed = true; changed;) changed = UpdateStartTokens(*m_gramRoot);
}

// ---- lexing -----------------------------------------------------------------------------------------

std::size_t TYup::MatchLex(const TLexNode* node, const unsigned char* text, std::size_t size, std::size_t pos,
                           int depth) const {
    if (depth > kMaxLexDepth) return kNoMatch;
    node = node->link;
    switch (node->kind) {
    case TLexNode::Literal: {
        std::size_t len = node->literal.size();
        if (len > size - pos || std::memcmp(text + pos, node->literal.data(), len) != 0) return kNoMatch;
        return pos + len;
    }
    case TLexNode::Range:
        if (pos < size && text[pos] >= node->low && text[pos] <= node->high) return pos + 1;
        return kNoMatch;
    case TLexNode::Choice: {
        // Past the end the byte is the terminating zero, which no literal or range takes.
        unsigned char b = pos < size ? text[pos] : 0;
        for (const TLexNode& c : node->children) {
            if (!c.first.Test(b)) continue; // first sets over-estimate: a skipped child could not match
            std::size_t e = MatchLex(&c, text, size, pos, depth + 1);
            if (e != kNoMatch) return e;
        }
        return kNoMatch;
    }
    case TLexNode::Sequence: {
        if (node->children.empty()) return node->min == 0 ? pos : kNoMatch;
        if (node->closer >= 0) {
            std::size_t last = m_lastCloser[static_cast<std::size_t>(node->closer)];
            if (last == std::string_view::npos || last < pos) return node->min == 0 ? pos : kNoMatch;
        }
        std::int32_t limit = RepeatLimit(node->max), done = 0;
        std::size_t cur = pos;
        while (done < limit) {
            std::size_t p = cur;
            bool complete = true;
            for (const TLexNode& c : node->children) {
                p = MatchLex(&c, text, size, p, depth + 1);
                if (p == kNoMatch) {
                    complete = false;
                    break;
                }
            }
            if (!complete) break;
            ++done;
            bool empty = p == cur;
            cur = p;
            if (empty) break; // an iteration that consumed nothing would repeat forever
        }
        return done >= node->min ? cur : kNoMatch;
    }
    case TLexNode::Reference:
        break;
    }
    return kNoMatch;
}

std::unique_ptr<TLexList> TYup::Lex(std::string_view text) {
    if (!m_built) Build();
    // Offsets are 32-bit; a longer text is cut there (no source comes near it).
    text = text.substr(0, std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max() - 1));
    std::unique_ptr<TLexList> list(new TLexList(text));
    if (!m_lexRoot) return list;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(list->m_source.data());
    const char* base = list->m_source.data();
    std::size_t size = list->m_source.size();
    const TLexNode* tops = m_lexRoot->children.data();
    list->m_elems.reserve(size / 4 + 1);
    std::string_view source(base, size);
    m_lastCloser.clear();
    for (const std::string& closer : m_closers) m_lastCloser.push_back(source.rfind(closer));
    std::size_t pos = 0;
    while (pos < size) {
        unsigned char b = s[pos];
        std::size_t bestEnd = pos;
        const TLexNode* best = nullptr;
        for (std::uint32_t k = m_candStart[b], e = m_candStart[b + 1]; k < e; ++k) {
            const TLexNode* rule = &tops[m_candidates[k]];
            std::size_t end = MatchLex(rule, s, size, pos, 0);
            if (end != kNoMatch && end > bestEnd) { // strictly longer: on a tie the earlier rule stays
                bestEnd = end;
                best = rule;
            }
        }
        if (!best) {
            ++pos; // a byte no rule describes vanishes
            continue;
        }
        list->m_elems.emplace_back(best, base + pos, static_cast<std::uint32_t>(pos),
                                   static_cast<std::uint32_t>(bestEnd - pos));
        pos = bestEnd;
    }
    return list;
}

// ---- parsing ----------------------------------------------------------------------------------------

// One parse of a token list. Ordered choice with backtracking; what it adds to the plain algorithm keeps
// the results identical:
// - a node whose start-token estimate excludes the current token fails at once (it would have failed
//   without matching a terminal, so nothing observable changes);
// - a list thrown away by a failed attempt is kept by (rule, first token) and handed out again when the
//   same rule is tried at the same token, together with the error position its parse left behind. An
//   assignment's left side is parsed once more as an operand in every expression statement; without this,
//   nested call arguments made that doubling exponential.
class TParser {
public:
    TParser(TLexList& tokens, TYupPlainParse plain)
        : m_tokens(tokens), m_tree(std::make_unique<TParseTree>()), m_plain(plain) {
        int n = tokens.Count();
        m_kinds.resize(n + 1);
        for (int i = 0; i < n; ++i)
            m_kinds[i] =
                static_cast<std::uint8_t>(std::min<unsigned>(tokens[i].Rule()->topIndex, kLastTokenBit));
        m_kinds[n] = kEndToken;
        m_keptAt.assign(n + 1, 0);
        m_scratch.reserve(256);
    }

    std::unique_ptr<TParseTree> Run(const TGramNode* start) {
        m_tokens.cursor = 0;
        m_tokens.nestingTooDeep = false;
        bool ok = ParseNode(start->link);
        if (m_aborted) m_tokens.nestingTooDeep = true;
        if (!ok || m_aborted || m_tokens.cursor != m_tokens.Count()) return nullptr;
        m_tree->m_root = m_scratch.back().List();
        if (!m_tree->m_root) { // a start rule that is a terminal yields a token, not a tree
            return nullptr;
        }
        return std::move(m_tree);
    }

private:
    bool Startable(const TGramNode* n) const {
        if (n->nullable) return true;
        unsigned k = m_kinds[m_tokens.cursor];
        return (n->startTokens[k >> 6] >> (k & 63)) & 1u;
    }

    bool ParseNode(const TGramNode* n) {
        if (!m_plain.on) {
            if (!Startable(n)) return false;
        } else if (m_plain.maxSteps && ++m_steps > m_plain.maxSteps) {
            m_aborted = true;
        }
        if (++m_depth > kMaxParseDepth) m_aborted = true;
        bool ok = false;
        if (!m_aborted) {
            switch (n->kind) {
            case TGramNode::Terminal:
                ok = ParseTerminal(n);
                break;
            case TGramNode::Choice:
                for (const TGramNode& c : n->children) {
                    if (ParseNode(c.link)) {
                        ok = true;
                        break;
                    }
                    if (m_aborted) break;
                }
                break;
            case TGramNode::Sequence:
                ok = ParseSequence(n);
                break;
            case TGramNode::Reference:
                break;
            }
        }
        --m_depth;
        return ok;
    }

    [[gnu::noinline]] bool ParseTerminal(const TGramNode* n) {
        int c = m_tokens.cursor;
        if (c >= m_tokens.Count() || m_tokens[c].Rule() != n->token) return false;
        const TLexElem& t = m_tokens[c];
        m_scratch.emplace_back(&t);
        m_tokens.cursor = c + 1;
        m_tokens.lastMatched = t.Position();
        ++m_serial;
        return true;
    }

    static std::uint64_t Key(const TGramNode* n, int cursor) {
        return (std::uint64_t(n->id) << 32) | static_cast<std::uint32_t>(cursor);
    }

    // The recursive path (ParseNode, ParseSequence) keeps its frames small: everything else is in helpers
    // that are not inlined, so that deep texts reach the depth limit long before the stack's end, with
    // sanitizers too.
    bool ParseSequence(const TGramNode* n) {
        const int start = m_tokens.cursor;
        if (m_keptAt[start] && TakeKept(n, start)) return true;
        const std::size_t base = m_scratch.size();
        const std::uint64_t serial0 = m_serial;
        std::int32_t done = 0;
        if (!n->children.empty()) {
            const std::int32_t limit = RepeatLimit(n->max);
            while (done < limit) {
                const std::size_t iterBase = m_scratch.size();
                const int iterCursor = m_tokens.cursor;
                bool complete = true;
                for (const TGramNode& c : n->children)
                    if (!ParseNode(c.link)) {
                        complete = false;
                        break;
                    }
                if (!complete) {
                    Discard(iterBase);
                    m_tokens.cursor = iterCursor;
                    break;
                }
                ++done;
                if (m_tokens.cursor == iterCursor) break; // an empty iteration would repeat forever
            }
        }
        if (m_aborted || done < n->min) {
            Discard(base);
            m_tokens.cursor = start;
            return false;
        }
        MakeList(n, base, start, serial0);
        return true;
    }

    [[gnu::noinline]] bool TakeKept(const TGramNode* n, int start) {
        auto it = m_kept.find(Key(n, start));
        if (it == m_kept.end()) return false;
        TResultList* list = it->second;
        m_kept.erase(it);
        --m_keptAt[start];
        m_scratch.emplace_back(list);
        m_tokens.cursor = static_cast<int>(list->m_endToken);
        if (list->m_lastAfter >= 0) {
            m_tokens.lastMatched = list->m_lastAfter;
            ++m_serial;
        }
        return true;
    }

    // Replaces the items from base on by one list of the node's class holding them.
    [[gnu::noinline]] void MakeList(const TGramNode* n, std::size_t base, int start, std::uint64_t serial0) {
        TResultList* list = n->prototype->NewInstance(m_tree->m_arena);
        list->m_rule = n;
        std::size_t count = m_scratch.size() - base;
        if (count) {
            auto* items = static_cast<TResultItem*>(
                m_tree->m_arena.Allocate(count * sizeof(TResultItem), alignof(TResultItem)));
            std::copy(m_scratch.begin() + base, m_scratch.end(), items);
            list->m_items = items;
            list->m_count = static_cast<std::uint32_t>(count);
        }
        m_scratch.resize(base);
        list->m_startToken = static_cast<std::uint32_t>(start);
        list->m_endToken = static_cast<std::uint32_t>(m_tokens.cursor);
        list->m_lastAfter = m_serial != serial0 ? m_tokens.lastMatched : -1;
        m_scratch.emplace_back(list);
    }

    // Throws away the items from base on; their lists are kept for a later attempt at the same place.
    [[gnu::noinline]] void Discard(std::size_t base) {
        if (!m_aborted && !m_plain.on)
            for (std::size_t i = base; i < m_scratch.size(); ++i)
                if (TResultList* l = m_scratch[i].List())
                    if (m_kept.emplace(Key(l->m_rule, l->m_startToken), l).second)
                        ++m_keptAt[l->m_startToken];
        m_scratch.resize(base);
    }

    TLexList& m_tokens;
    std::unique_ptr<TParseTree> m_tree;
    std::vector<std::uint8_t> m_kinds;
    std::vector<TResultItem> m_scratch;
    std::unordered_map<std::uint64_t, TResultList*> m_kept;
    std::vector<std::uint32_t> m_keptAt; // number of kept lists by first token: most lookups end here
    std::uint64_t m_serial = 0;
    int m_depth = 0;
    bool m_aborted = false;
    TYupPlainParse m_plain;
    std::uint64_t m_steps = 0;
};

std::unique_ptr<TParseTree> TYup::Parse(TLexList& tokens) {
    tokens.cursor = 0;
    if (!m_built || !m_gramRoot || m_gramRoot->children.empty()) return nullptr;
    TParser parser(tokens, m_plainParse);
    return parser.Run(&m_gramRoot->children[0]);
}

} // namespace plimo
