#include "sound/music_compiler.h"

#include <algorithm>
#include <cctype>
#include <numeric>

namespace plimo::sound {

namespace {

// Music code opcodes the notation produces.
enum : std::uint8_t {
    kRest = 99,
    kVolume = 100,
    kEnvelopeSpeed = 101,
    kInstrument = 102,
    kTempo = 103,
    kJump = 104,
    kTie = 105,
    kGlide = 106,
    kEnvelope = 107,
    kSync = 108,
    kMarker = 109,
    kDetune = 110,
    kToneData = 113,
    kEnvelopeData = 114,
    kVibrato = 115,
    kOneShot = 116,
    kSample = 117,
    kStop = 255,
};

constexpr int kMaxLength = 65535;           // a length operand is 16 bits
constexpr std::size_t kMaxBlock = 4u << 20; // unrolled repeats stop growing a channel here
constexpr std::int64_t kMaxSteps = 5000000; // commands read, each repeat counted again

// A time in length units as an exact fraction, so that lengths like a sixteenth (2756.25 units) do not
// drift: each event gets the rounded difference of its end and start.
struct Time {
    std::int64_t num = 0;
    std::int64_t den = 1;

    // The common denominator of two odd note values can reach 2^48, so the sum is formed in 128 bits.
    void Add(const Time& t) {
        using Wide = __int128;
        const std::int64_t g0 = std::gcd(den, t.den);
        Wide n = Wide(num) * (t.den / g0) + Wide(t.num) * (den / g0);
        Wide d = Wide(den) * (t.den / g0);
        Wide a = n < 0 ? -n : n, b = d;
        while (b != 0) {
            Wide r = a % b;
            a = b;
            b = r;
        }
        if (a > 1) {
            n /= a;
            d /= a;
        }
        // Unusual note values can make the denominator explode; whole units are then close enough.
        if (d > (1 << 24)) {
            n = (2 * n + d) / (2 * d);
            d = 1;
        }
        num = std::int64_t(n);
        den = std::int64_t(d);
    }
    std::int64_t Rounded() const { return (2 * num + den) / (2 * den); }
};

// Where each piece of a channel's gathered text came from, for error positions.
struct Piece {
    std::size_t offset;
    int line;
    int column;
};

struct ChannelText {
    std::string text;
    std::vector<Piece> pieces;
    bool used = false;
};

class ChannelCompiler {
public:
    ChannelCompiler(const ChannelText& source, TMusicCompileError& error) : m_src(source), m_error(error) {}

    bool Compile(std::vector<std::uint8_t>& code) {
        if (!Sequence(false)) return false;
        if (m_loopAt >= 0) {
            if (m_time.Rounded() == m_timeAtLoop) {
                m_at = m_loopMark;
                return Fail("the loop after '$' has no length, so it would never let time pass");
            }
            const std::int32_t offset = std::int32_t(m_loopAt - std::int64_t(m_code.size()));
            Emit(kJump);
            for (int i = 0; i < 4; ++i) Emit(std::uint8_t(std::uint32_t(offset) >> (8 * i)));
        }
        Emit(kStop);
        code.insert(code.end(), m_code.begin(), m_code.end());
        return true;
    }

private:
    bool Fail(std::string message) {
        auto it = std::upper_bound(m_src.pieces.begin(), m_src.pieces.end(), m_at,
                                   [](std::size_t at, const Piece& p) { return at < p.offset; });
        const Piece& p = it == m_src.pieces.begin() ? m_src.pieces.front() : *(it - 1);
        m_error.line = p.line;
        m_error.column = p.column + int(m_at - p.offset);
        m_error.message = std::move(message);
        return false;
    }

    void Emit(std::uint8_t b) { m_code.push_back(b); }
    void Emit16(int v) {
        Emit(std::uint8_t(v));
        Emit(std::uint8_t(v >> 8));
    }

    int Peek() const {
        return m_pos < m_src.text.size() ? std::tolower(static_cast<unsigned char>(m_src.text[m_pos])) : -1;
    }
    void SkipSpace() {
        while (m_pos < m_src.text.size() && std::isspace(static_cast<unsigned char>(m_src.text[m_pos])))
            ++m_pos;
    }

    // A decimal number, optionally signed; false (and no error) when none is there.
    bool Number(std::int64_t& value, bool allowSign = false) {
        std::size_t start = m_pos;
        bool negative = false;
        if (allowSign && (Peek() == '-' || Peek() == '+')) negative = m_src.text[m_pos++] == '-';
        if (!std::isdigit(Peek())) {
            m_pos = start;
            return false;
        }
        value = 0;
        while (std::isdigit(Peek())) {
            if (value < 100000000) value = value * 10 + (m_src.text[m_pos] - '0');
            ++m_pos;
        }
        if (negative) value = -value;
        return true;
    }

    bool NumberIn(std::int64_t& value, std::int64_t lo, std::int64_t hi, const char* what,
                  bool allowSign = false) {
        m_at = m_pos;
        if (!Number(value, allowSign)) return Fail(std::string("expected ") + what);
        if (value < lo || value > hi)
            return Fail(std::string(what) + " must lie in " + std::to_string(lo) + " ... " +
                        std::to_string(hi));
        return true;
    }

    // An optional length: a note value (4 = quarter) or "%" and raw units, then dots. `given` tells
    // whether one was written; without one the default length applies.
    bool Length(Time& length, bool& given) {
        given = false;
        std::int64_t v;
        m_at = m_pos;
        if (Peek() == '%') {
            ++m_pos;
            if (!NumberIn(v, 0, 1000000000, "a length in units")) return false;
            length = {v, 1};
            given = true;
        } else if (Number(v)) {
            if (v < 1 || v > kUnitsPerWholeNote) return Fail("a note value must lie in 1 ... 44100");
            length = {kUnitsPerWholeNote, v};
            given = true;
        } else {
            length = m_defaultLength;
        }
        Time add = length;
        for (int dots = 0; Peek() == '.'; ++dots) {
            m_at = m_pos++;
            if (dots == 8) return Fail("a length takes at most 8 dots");
            add.den *= 2;
            length.Add(add);
        }
        return true;
    }

    // Advances the channel's time by `length`; returns the units this event lasts.
    std::int64_t Advance(const Time& length) {
        std::int64_t before = m_time.Rounded();
        m_time.Add(length);
        return m_time.Rounded() - before;
    }

    bool Pitch(int letter, int& note) {
        static const int semitone[7] = {9, 11, 0, 2, 4, 5, 7}; // a b c d e f g
        int n = (m_octave - 1) * 12 + semitone[letter - 'a'];
        for (;;) {
            if (Peek() == '+' || Peek() == '#')
                ++n;
            else if (Peek() == '-')
                --n;
            else
                break;
            ++m_pos;
        }
        if (n < 0 || n > 95) return Fail("the note lies outside the 96 notes (o1 c ... o8 b)");
        note = n;
        return true;
    }

    bool EmitTimed(std::uint8_t op, std::int64_t units) {
        bool first = true;
        do {
            const int chunk = int(std::min<std::int64_t>(units, kMaxLength));
            if (!first && op != kRest) Emit(kTie);
            Emit(op);
            Emit16(chunk);
            units -= chunk;
            first = false;
        } while (units > 0);
        return CheckSize();
    }

    bool CheckSize() { return m_code.size() <= kMaxBlock || Fail("the channel's code grows beyond 4 MB"); }

    bool OctaveShift(int delta) {
        m_octave += delta;
        if (m_octave < 1 || m_octave > 8) return Fail("the octave must lie in 1 ... 8");
        return true;
    }

    bool Glide() {
        int notes[2];
        for (int i = 0; i < 2;) {
            SkipSpace();
            m_at = m_pos;
            int c = Peek();
            if (c == '<' || c == '>') {
                ++m_pos;
                if (!OctaveShift(c == '>' ? 1 : -1)) return false;
            } else if (c >= 'a' && c <= 'g') {
                ++m_pos;
                if (!Pitch(c, notes[i++])) return false;
            } else {
                return Fail("a glide is written {FROM TO}, two notes such as {c >c}");
            }
        }
        SkipSpace();
        m_at = m_pos;
        if (Peek() != '}') return Fail("expected '}' after the glide's two notes");
        ++m_pos;
        Time length;
        bool given;
        if (!Length(length, given)) return false;
        std::int64_t units = Advance(length);
        if (units > kMaxLength) return Fail("a glide lasts at most 65535 units");
        Emit(kGlide);
        Emit(std::uint8_t(notes[0]));
        Emit(std::uint8_t(notes[1]));
        Emit16(int(units));
        return CheckSize();
    }

    bool Sequence(bool inRepeat) {
        for (;;) {
            SkipSpace();
            m_at = m_pos;
            const int c = Peek();
            // Repeats of empty bodies would unroll for ever without growing the code.
            if (++m_steps > kMaxSteps) return Fail("the repeats unroll into too much music");
            if (c < 0) {
                if (!inRepeat) return true;
                m_at = m_openBracket;
                return Fail("'[' is not closed by ']'");
            }
            ++m_pos;
            std::int64_t v;
            if (c >= 'a' && c <= 'g') {
                int note = 0;
                Time length;
                bool given;
                if (!Pitch(c, note) || !Length(length, given) ||
                    !EmitTimed(std::uint8_t(note), Advance(length)))
                    return false;
            } else if (c == 'r') {
                Time length;
                bool given;
                if (!Length(length, given) || !EmitTimed(kRest, Advance(length))) return false;
            } else if (c == 'n') {
                if (!NumberIn(v, 0, 95, "a note number")) return false;
                Time length = m_defaultLength;
                bool given;
                if (Peek() == ',') {
                    ++m_pos;
                    if (!Length(length, given)) return false;
                    if (!given) return Fail("expected a length after ','");
                }
                if (!EmitTimed(std::uint8_t(v), Advance(length))) return false;
            } else if (c == 'o') {
                if (!NumberIn(v, 1, 8, "an octave")) return false;
                m_octave = int(v);
            } else if (c == '>' || c == '<') {
                if (!OctaveShift(c == '>' ? 1 : -1)) return false;
            } else if (c == 'l') {
                bool given;
                if (!Length(m_defaultLength, given)) return false;
                if (!given) return Fail("expected a length after 'l'");
            } else if (c == 't') {
                if (!NumberIn(v, 1, 65535, "a tempo")) return false;
                Emit(kTempo);
                Emit16(int(v));
            } else if (c == 'v') {
                if (!NumberIn(v, 0, 255, "a volume")) return false;
                Emit(kVolume);
                Emit(std::uint8_t(v));
            } else if (c == '@') {
                if (!Setting()) return false;
            } else if (c == '&') {
                Emit(kTie);
            } else if (c == '!') {
                Emit(kSync);
            } else if (c == '{') {
                if (!Glide()) return false;
            } else if (c == '[') {
                if (!Repeat()) return false;
            } else if (c == ']') {
                if (!inRepeat) return Fail("']' without '['");
                --m_pos;
                return true;
            } else if (c == '$') {
                if (m_repeatDepth > 0) return Fail("'$' cannot stand inside a repeat");
                if (m_loopAt >= 0) return Fail("a channel has one loop point '$'");
                m_loopAt = std::int64_t(m_code.size());
                m_timeAtLoop = m_time.Rounded();
                m_loopMark = m_at;
            } else {
                return Fail(std::string("unknown command '") + char(c) + "'");
            }
        }
    }

    bool Repeat() {
        const std::size_t body = m_pos;
        const std::size_t outerBracket = m_openBracket;
        m_openBracket = m_pos - 1;
        ++m_repeatDepth;
        if (!Sequence(true)) return false;
        ++m_pos; // the ']'
        std::int64_t count = 2;
        m_at = m_pos;
        if (std::isdigit(Peek()) && !NumberIn(count, 1, 1000, "a repeat count")) return false;
        const std::size_t after = m_pos;
        for (std::int64_t i = 1; i < count; ++i) {
            m_pos = body;
            if (!Sequence(true)) return false;
        }
        m_pos = after;
        --m_repeatDepth;
        m_openBracket = outerBracket;
        return true;
    }

    bool Setting() {
        m_at = m_pos;
        const int c = Peek();
        std::int64_t v;
        if (std::isdigit(c)) {
            if (!NumberIn(v, 0, 111, "an instrument")) return false;
            Emit(kInstrument);
            Emit(std::uint8_t(v));
            return true;
        }
        ++m_pos;
        switch (c) {
        case 'e':
            if (!NumberIn(v, 0, 15, "an envelope")) return false;
            Emit(kEnvelope);
            Emit(std::uint8_t(v));
            return true;
        case 's':
            if (!NumberIn(v, 0, 255, "an envelope speed")) return false;
            Emit(kEnvelopeSpeed);
            Emit(std::uint8_t(v));
            return true;
        case 'd':
            if (!NumberIn(v, -128, 127, "a detune", true)) return false;
            Emit(kDetune);
            Emit(std::uint8_t(v));
            return true;
        case 'o':
            if (!NumberIn(v, 0, 1, "a one-shot flag")) return false;
            Emit(kOneShot);
            Emit(std::uint8_t(v));
            return true;
        case 'v': {
            std::int64_t r, s, d;
            if (!NumberIn(r, -128, 127, "a vibrato restart flag", true)) return false;
            m_at = m_pos;
            if (Peek() != ',') return Fail("vibrato is written @vRESTART,SPEED,DEPTH");
            ++m_pos;
            if (!NumberIn(s, -128, 127, "a vibrato speed", true)) return false;
            m_at = m_pos;
            if (Peek() != ',') return Fail("vibrato is written @vRESTART,SPEED,DEPTH");
            ++m_pos;
            if (!NumberIn(d, -128, 127, "a vibrato depth", true)) return false;
            Emit(kVibrato);
            Emit(std::uint8_t(r));
            Emit(std::uint8_t(s));
            Emit(std::uint8_t(d));
            return true;
        }
        case 'm': {
            if (Peek() != '"') return Fail("a marker is written @m\"TEXT\"");
            std::size_t end = m_src.text.find_first_of("\"\n", m_pos + 1);
            if (end == std::string::npos || m_src.text[end] != '"')
                return Fail("the marker's text is not closed by '\"'");
            Emit(kMarker);
            for (std::size_t i = m_pos + 1; i < end; ++i) Emit(std::uint8_t(m_src.text[i]));
            Emit(0);
            m_pos = end + 1;
            return true;
        }
        default:
            return Fail("unknown setting after '@' (use @N, @e, @s, @d, @v, @o or @m)");
        }
    }

    const ChannelText& m_src;
    TMusicCompileError& m_error;
    std::vector<std::uint8_t> m_code;
    std::size_t m_pos = 0;
    std::size_t m_at = 0; // where the token being read starts, for errors
    int m_octave = 4;
    Time m_defaultLength{kUnitsPerWholeNote, 4};
    Time m_time;
    int m_repeatDepth = 0;
    std::int64_t m_loopAt = -1;
    std::int64_t m_timeAtLoop = 0;
    std::size_t m_loopMark = 0;
    std::size_t m_openBracket = 0; // the innermost open '['
    std::int64_t m_steps = 0;      // commands read, repeats counted each time
};

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        std::size_t start = i;
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool WordNumber(std::string_view w, int lo, int hi, int& value) {
    if (w.empty() || w.size() > 6) return false;
    int v = 0;
    for (char c : w) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    value = v;
    return true;
}

// "#tone N ...", "#envelope N ..." and "#sample N FILE": table data the first used channel sets up
// before anything plays.
bool Directive(std::string_view line, int lineNo, int column, std::vector<std::uint8_t>& prefix,
               TMusicCompileError& error) {
    auto fail = [&](std::string message) {
        error = {lineNo, column, std::move(message)};
        return false;
    };
    std::vector<std::string_view> w = Words(line);
    int n;
    if (w[0] == "#tone" || w[0] == "#envelope") {
        const bool tone = w[0] == "#tone";
        const int maxValue = tone ? 255 : 15;
        if (w.size() != 34 || !WordNumber(w[1], 0, tone ? 95 : 15, n))
            return fail(std::string(w[0]) + " takes a number (" + (tone ? "0 ... 95" : "0 ... 15") +
                        ") and 32 values");
        prefix.push_back(tone ? kToneData : kEnvelopeData);
        prefix.push_back(std::uint8_t(n));
        for (int i = 0; i < 32; ++i) {
            int v;
            if (!WordNumber(w[2 + i], 0, maxValue, v))
                return fail("value " + std::to_string(i + 1) + " must lie in 0 ... " +
                            std::to_string(maxValue));
            prefix.push_back(std::uint8_t(v));
        }
        return true;
    }
    if (w[0] == "#sample") {
        if (w.size() < 3 || !WordNumber(w[1], 96, 111, n))
            return fail("#sample takes an instrument number (96 ... 111) and a WAV file name");
        std::string_view rest = line.substr(std::size_t(w[2].data() - line.data()));
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.remove_suffix(1);
        prefix.push_back(kSample);
        prefix.insert(prefix.end(), rest.begin(), rest.end());
        prefix.push_back(0);
        prefix.push_back(std::uint8_t(n));
        return true;
    }
    return fail("unknown directive " + std::string(w[0]) + " (use #tone, #envelope or #sample)");
}

} // namespace

std::string TMusicCompileError::ToString() const {
    return std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

std::vector<std::uint8_t> TCompiledMusic::FileBytes() const {
    std::vector<std::uint8_t> f;
    auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) f.push_back(std::uint8_t(v >> (8 * i)));
    };
    put(std::uint32_t(kCompiledMusicVersion));
    f.push_back(std::uint8_t(channels.size()));
    for (const auto& block : channels) {
        put(std::uint32_t(block.size()));
        f.insert(f.end(), block.begin(), block.end());
    }
    return f;
}

bool CompileMusic(std::string_view text, TCompiledMusic& out, TMusicCompileError& error) {
    out = TCompiledMusic();
    std::array<ChannelText, 10> sources;
    std::vector<std::uint8_t> prefix;
    int lineNo = 0;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (std::size_t semi = line.find(';'); semi != std::string_view::npos) line = line.substr(0, semi);
        std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos) continue;
        const int column = int(first) + 1;
        line = line.substr(first);
        if (line[0] == '#') {
            if (!Directive(line, lineNo, column, prefix, error)) return false;
            continue;
        }
        std::size_t colon = line.find(':');
        int ch;
        if (colon == std::string_view::npos ||
            !WordNumber(line.substr(0, line.find_first_of(" \t:")), 0, 9, ch) ||
            line.find_first_not_of(" \t", line.find_first_of(" \t:")) != colon) {
            error = {lineNo, column,
                     "a line starts with a channel number 0 ... 9 and ':', or with a #directive"};
            return false;
        }
        ChannelText& src = sources[ch];
        src.used = true;
        src.pieces.push_back({src.text.size(), lineNo, column + int(colon) + 1});
        src.text.append(line.substr(colon + 1));
        src.text.push_back('\n');
    }
    int firstUsed = -1;
    for (int ch = 0; ch < 10 && firstUsed < 0; ++ch)
        if (sources[ch].used) firstUsed = ch;
    if (firstUsed < 0 && !prefix.empty()) firstUsed = 0;
    for (int ch = 0; ch < 10; ++ch) {
        if (!sources[ch].used && ch != firstUsed) continue;
        std::vector<std::uint8_t>& code = out.channels[ch];
        if (ch == firstUsed) code = prefix;
        if (sources[ch].pieces.empty()) sources[ch].pieces.push_back({0, lineNo, 1});
        ChannelCompiler compiler(sources[ch], error);
        if (!compiler.Compile(code)) return false;
    }
    return true;
}

} // namespace plimo::sound
