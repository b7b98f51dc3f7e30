// Perl-style regular expressions on Shift-JIS byte strings: "/.../" to match and split, "s/.../.../g"
// to substitute, over PCRE2 in 8-bit, non-UTF mode.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace plimo {

// A malformed pattern or an engine failure; the text is the engine's own message.
class ERegExpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TBRegExp {
public:
    TBRegExp();
    virtual ~TBRegExp();
    TBRegExp(const TBRegExp&) = delete;
    TBRegExp& operator=(const TBRegExp&) = delete;

    // True when text matches; then Count() is the number of captures from the whole match up to the
    // first empty one, and Strings(i) capture i.
    virtual bool Match(std::string_view pattern, std::string_view text);
    // "s/PATTERN/REPLACEMENT/FLAGS": true when something was replaced; text then holds the result.
    // In the replacement, $& is the whole match, $1 or ${1} a capture, \\ a backslash.
    virtual bool Subst(std::string_view pattern, std::string& text);
    // Perl's split: limit > 0 gives at most limit pieces (the last holds the rest); a negative limit
    // means no limit; with none (0) trailing empty pieces are dropped as well. An empty text gives no pieces. Captures of
    // the pattern are returned among the pieces, as Perl does.
    void Split(std::string_view pattern, std::string_view text, int limit = 0);

    int Count() const;
    const std::string& Strings(int i) const;

    // Matches never start inside a double-byte character (a trail byte such as 0x5C is not a '\'), and
    // one that would end inside one takes the whole character.
    struct Compiled;

private:
    enum class State { None, Matched, Split };
    const Compiled& compile(std::string_view body, std::string_view flags);

    std::unordered_map<std::string, std::unique_ptr<Compiled>> m_cache;
    State m_state = State::None;
    std::vector<std::string> m_strings;
};

// The guarded variant the path code uses: a match against an empty text fails and a substitution on an
// empty text changes nothing, without asking the engine.
class TBRegExp2 : public TBRegExp {
public:
    bool Match(std::string_view pattern, std::string_view text) override;
    bool Subst(std::string_view pattern, std::string& text) override;
};

} // namespace plimo
