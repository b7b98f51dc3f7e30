#include "services/regexp.h"

#include <algorithm>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "platform/text.h"

namespace plimo {

struct TBRegExp::Compiled {
    pcre2_code* code = nullptr;
    pcre2_match_data* match = nullptr;
    bool global = false;
    ~Compiled() {
        pcre2_match_data_free(match);
        pcre2_code_free(code);
    }
};

namespace {

// Patterns used by a program are few; a script that builds patterns on the fly must not grow the cache
// without bound.
constexpr std::size_t kCacheLimit = 256;

constexpr bool IsLead(char c) { return IsSjisLeadByte(static_cast<unsigned char>(c)); }

// Reads one delimited part starting at pos (just after the opening delimiter); pos ends after the
// closing delimiter. Escapes and double-byte characters are stepped over whole, with one exception: a
// lead byte whose partner is a delimiter the pattern cannot do without stands alone. `closers` is how many
// delimiters must still come (this part's own and those of the parts after it); when the bytes after the
// partner hold fewer, the partner has to be one of them. A separator cut from a text can end in half a
// character, and escaping it must not swallow the pattern's end.
bool ReadPart(std::string_view p, std::size_t& pos, char delim, int closers, std::string_view& part) {
    auto charLength = [&](std::size_t i) -> std::size_t {
        std::size_t n = SjisCharLength(p, i);
        if (n == 2 && p[i + 1] == delim &&
            std::count(p.begin() + static_cast<std::ptrdiff_t>(i) + 2, p.end(), delim) < closers)
            return 1;
        return n;
    };
    std::size_t start = pos;
    while (pos < p.size()) {
        char c = p[pos];
        if (c == delim) {
            part = p.substr(start, pos - start);
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < p.size())
            pos += 1 + charLength(pos + 1);
        else
            pos += charLength(pos);
    }
    return false;
}

struct Pieces {
    std::string_view body, replacement, flags;
};

Pieces SplitPattern(std::string_view p, bool substitution) {
    std::size_t pos = 0;
    if (substitution) {
        if (p.empty() || p[0] != 's') throw ERegExpError("substitution pattern must start with s: " + std::string(p));
        pos = 1;
    } else if (!p.empty() && p[0] == 'm') {
        pos = 1;
    }
    if (pos >= p.size() || std::isalnum(static_cast<unsigned char>(p[pos])) || p[pos] == '\\' ||
        std::isspace(static_cast<unsigned char>(p[pos])))
        throw ERegExpError("pattern has no delimiter: " + std::string(p));
    char delim = p[pos++];
    Pieces out;
    if (!ReadPart(p, pos, delim, substitution ? 2 : 1, out.body))
        throw ERegExpError("unterminated pattern: " + std::string(p));
    if (substitution && !ReadPart(p, pos, delim, 1, out.replacement))
        throw ERegExpError("unterminated replacement: " + std::string(p));
    out.flags = p.substr(pos);
    return out;
}

void AppendHexByte(std::string& out, unsigned char b) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[b >> 4];
    out += digits[b & 15];
}

// PCRE2 sees bytes; a double-byte character written in the pattern is made one unit, so that its
// trail byte can't act as '\', '[', '|' and so on, and a quantifier after it applies to all of it.
std::string TranslateBody(std::string_view body) {
    std::string out;
    out.reserve(body.size() + 16);
    bool inClass = false;
    // Inside a class, a lead byte followed by the last ']' of the pattern stands alone: taken as a pair
    // with it, the class could never close.
    std::size_t lastClose = body.rfind(']');
    auto charLength = [&](std::size_t at) -> std::size_t {
        std::size_t n = SjisCharLength(body, at);
        return n == 2 && inClass && at + 1 == lastClose ? 1 : n;
    };
    for (std::size_t i = 0; i < body.size();) {
        char c = body[i];
        if (c == '\\' && i + 1 < body.size()) {
            std::size_t n = charLength(i + 1);
            if (n == 2) {
                // An escaped double-byte character is just that character.
                AppendHexByte(out, static_cast<unsigned char>(body[i + 1]));
                AppendHexByte(out, static_cast<unsigned char>(body[i + 2]));
            } else {
                out.append(body.substr(i, 2));
            }
            i += 1 + n;
            continue;
        }
        if (charLength(i) == 2) {
            if (!inClass) out += "(?:";
            AppendHexByte(out, static_cast<unsigned char>(c));
            AppendHexByte(out, static_cast<unsigned char>(body[i + 1]));
            if (!inClass) out += ")";
            i += 2;
            continue;
        }
        if (!inClass && c == '[') {
            inClass = true;
            out += c;
            ++i;
            // A ']' right after '[' or '[^' is a member, not the end.
            if (i < body.size() && body[i] == '^') out += body[i++];
            if (i < body.size() && body[i] == ']') out += body[i++];
            continue;
        }
        if (inClass && c == ']') inClass = false;
        out += c;
        ++i;
    }
    return out;
}

// Byte positions where a character starts; empty when the text is plain ASCII (every byte starts one).
std::vector<bool> CharStarts(std::string_view text) {
    std::vector<bool> starts;
    bool ascii = true;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) return starts;
    starts.assign(text.size() + 1, false);
    for (std::size_t pos = 0; pos < text.size(); pos += SjisCharLength(text, pos)) starts[pos] = true;
    starts[text.size()] = true;
    return starts;
}

struct MatchAt {
    bool found = false;
    PCRE2_SIZE start = 0, end = 0;
};

// The first match at or after `from` that starts on a character boundary. The engine sees bytes, so an
// atom meant for one character ('.', a negated class, \W) takes only the lead byte of a double-byte
// one; a match that would end there takes the whole character, and so do the captures that end with
// it, so that no result and no text left around it holds half a character.
MatchAt Find(const TBRegExp::Compiled& c, std::string_view text, std::size_t from, uint32_t options,
             const std::vector<bool>& starts) {
    while (from <= text.size()) {
        int rc = pcre2_match(c.code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), from, options, c.match,
                             nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) return {};
        if (rc < 0) {
            PCRE2_UCHAR msg[256];
            pcre2_get_error_message(rc, msg, sizeof msg);
            throw ERegExpError(reinterpret_cast<const char*>(msg));
        }
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c.match);
        if (!starts.empty() && !starts[ov[0]]) {
            from = ov[0] + 1;
            options &= ~(PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED);
            continue;
        }
        if (!starts.empty() && !starts[ov[1]]) {
            PCRE2_SIZE end = ov[1];
            for (uint32_t i = 0, n = pcre2_get_ovector_count(c.match); i < n; ++i)
                if (ov[2 * i] != PCRE2_UNSET && ov[2 * i] < end && ov[2 * i + 1] == end)
                    ov[2 * i + 1] = end + 1;
        }
        return {true, ov[0], ov[1]};
    }
    return {};
}

std::string Group(const TBRegExp::Compiled& c, std::string_view text, int i) {
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c.match);
    if (i < 0 || static_cast<uint32_t>(i) >= pcre2_get_ovector_count(c.match)) return {};
    if (ov[2 * i] == PCRE2_UNSET) return {};
    return std::string(text.substr(ov[2 * i], ov[2 * i + 1] - ov[2 * i]));
}

int GroupCount(const TBRegExp::Compiled& c) {
    uint32_t n = 0;
    pcre2_pattern_info(c.code, PCRE2_INFO_CAPTURECOUNT, &n);
    return static_cast<int>(n);
}

// Perl's double-quoted replacement: $& $N ${N} \N, \n \t \r, and \x for any other x.
void AppendReplacement(std::string& out, std::string_view repl, const TBRegExp::Compiled& c, std::string_view text) {
    for (std::size_t i = 0; i < repl.size();) {
        char ch = repl[i];
        if (IsLead(ch) && i + 1 < repl.size()) {
            out.append(repl.substr(i, 2));
            i += 2;
        } else if (ch == '\\' && i + 1 < repl.size()) {
            char e = repl[i + 1];
            if (e >= '0' && e <= '9') {
                out += Group(c, text, e - '0');
                i += 2;
            } else {
                std::size_t n = SjisCharLength(repl, i + 1);
                if (e == 'n') out += '\n';
                else if (e == 't') out += '\t';
                else if (e == 'r') out += '\r';
                else out.append(repl.substr(i + 1, n));
                i += 1 + n;
            }
        } else if (ch == '$' && i + 1 < repl.size()) {
            char e = repl[i + 1];
            if (e == '&') {
                out += Group(c, text, 0);
                i += 2;
            } else if (e >= '0' && e <= '9') {
                std::size_t j = i + 1;
                int n = 0;
                while (j < repl.size() && repl[j] >= '0' && repl[j] <= '9' && n < 100000) n = n * 10 + (repl[j++] - '0');
                out += Group(c, text, n);
                i = j;
            } else if (e == '{') {
                std::size_t close = repl.find('}', i + 2);
                std::string_view inner =
                    close == std::string_view::npos ? std::string_view{} : repl.substr(i + 2, close - i - 2);
                bool digits = !inner.empty() && inner.size() < 6 &&
                              inner.find_first_not_of("0123456789") == std::string_view::npos;
                if (digits) {
                    out += Group(c, text, std::stoi(std::string(inner)));
                    i = close + 1;
                } else {
                    out += ch;
                    ++i;
                }
            } else {
                out += ch;
                ++i;
            }
        } else {
            out += ch;
            ++i;
        }
    }
}

} // namespace

TBRegExp::TBRegExp() = default;
TBRegExp::~TBRegExp() = default;

const TBRegExp::Compiled& TBRegExp::compile(std::string_view body, std::string_view flags) {
    std::string key(flags);
    key += '\0';
    key.append(body);
    auto it = m_cache.find(key);
    if (it != m_cache.end()) return *it->second;

    uint32_t options = 0;
    bool global = false;
    for (char f : flags) {
        switch (f) {
        case 'g': global = true; break;
        case 'i': options |= PCRE2_CASELESS; break;
        case 'm': options |= PCRE2_MULTILINE; break;
        case 's': options |= PCRE2_DOTALL; break;
        case 'x': options |= PCRE2_EXTENDED; break;
        case 'o': break; // compile once: every pattern is compiled once here anyway
        default: throw ERegExpError(std::string("unknown flag '") + f + "' in pattern");
        }
    }
    std::string translated = TranslateBody(body);
    int err = 0;
    PCRE2_SIZE errOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(), options, &err,
                                     &errOffset, nullptr);
    if (!code) {
        PCRE2_UCHAR msg[256];
        pcre2_get_error_message(err, msg, sizeof msg);
        throw ERegExpError(std::string(reinterpret_cast<const char*>(msg)) + " at offset " + std::to_string(errOffset) +
                           " of /" + std::string(body) + "/");
    }
    auto compiled = std::make_unique<Compiled>();
    compiled->code = code;
    compiled->match = pcre2_match_data_create_from_pattern(code, nullptr);
    compiled->global = global;
    if (m_cache.size() >= kCacheLimit) m_cache.clear();
    return *m_cache.emplace(std::move(key), std::move(compiled)).first->second;
}

bool TBRegExp::Match(std::string_view pattern, std::string_view text) {
    Pieces p = SplitPattern(pattern, false);
    const Compiled& c = compile(p.body, p.flags);
    m_state = State::None;
    m_strings.clear();
    MatchAt m = Find(c, text, 0, 0, CharStarts(text));
    if (!m.found) return false;
    int groups = GroupCount(c);
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c.match);
    for (int i = 0; i <= groups; ++i) {
        if (ov[2 * i] == PCRE2_UNSET || ov[2 * i] == ov[2 * i + 1]) break;
        m_strings.push_back(Group(c, text, i));
    }
    m_state = State::Matched;
    return true;
}

bool TBRegExp::Subst(std::string_view pattern, std::string& text) {
    Pieces p = SplitPattern(pattern, true);
    const Compiled& c = compile(p.body, p.flags);
    std::vector<bool> starts = CharStarts(text);
    std::string out;
    std::size_t copied = 0, pos = 0;
    uint32_t options = 0;
    bool replaced = false;
    while (pos <= text.size()) {
        MatchAt m = Find(c, text, pos, options, starts);
        if (!m.found) {
            if (options == 0) break;
            // No non-empty match right after an empty one: step over one character and go on.
            options = 0;
            if (pos >= text.size()) break;
            pos += SjisCharLength(text, pos);
            continue;
        }
        out.append(text, copied, m.start - copied);
        AppendReplacement(out, p.replacement, c, text);
        copied = m.end;
        replaced = true;
        if (!c.global) break;
        pos = m.end;
        options = m.start == m.end ? (PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED) : 0;
    }
    if (!replaced) return false;
    out.append(text, copied, std::string::npos);
    text = std::move(out);
    return true;
}

void TBRegExp::Split(std::string_view pattern, std::string_view text, int limit) {
    Pieces p = SplitPattern(pattern, false);
    const Compiled& c = compile(p.body, p.flags);
    m_state = State::Split;
    m_strings.clear();
    if (text.empty()) return;
    std::vector<bool> starts = CharStarts(text);
    int groups = GroupCount(c);
    std::size_t fieldStart = 0;
    int fields = 0;
    while (limit <= 0 || fields + 1 < limit) {
        // An empty separator may not sit where the current field starts (that would make an empty
        // field and never advance), as in Perl.
        MatchAt m = Find(c, text, fieldStart, PCRE2_NOTEMPTY_ATSTART, starts);
        if (!m.found) break;
        m_strings.emplace_back(text.substr(fieldStart, m.start - fieldStart));
        ++fields;
        for (int g = 1; g <= groups; ++g) m_strings.push_back(Group(c, text, g));
        fieldStart = m.end;
        if (fieldStart > text.size()) break;
        if (m.start == m.end && m.start == text.size()) {
            fieldStart = text.size();
            break;
        }
    }
    m_strings.emplace_back(text.substr(fieldStart));
    if (limit == 0)
        while (!m_strings.empty() && m_strings.back().empty()) m_strings.pop_back();
}

int TBRegExp::Count() const {
    if (m_state == State::None) throw ERegExpError("no count now");
    return static_cast<int>(m_strings.size());
}

const std::string& TBRegExp::Strings(int i) const {
    if (m_state == State::None) throw ERegExpError("no strings now");
    if (i < 0 || static_cast<std::size_t>(i) >= m_strings.size()) throw ERegExpError("index out of range");
    return m_strings[i];
}

bool TBRegExp2::Match(std::string_view pattern, std::string_view text) {
    return !text.empty() && TBRegExp::Match(pattern, text);
}

bool TBRegExp2::Subst(std::string_view pattern, std::string& text) {
    return !text.empty() && TBRegExp::Subst(pattern, text);
}

} // namespace plimo
