#include "platform/text.h"

#include <cerrno>
#include <iconv.h>

namespace plimo {

std::size_t SjisCharCount(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += SjisCharLength(text, pos)) ++n;
    return n;
}

std::size_t SjisByteOffset(std::string_view text, std::size_t charIndex) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < charIndex && pos < text.size(); ++i) pos += SjisCharLength(text, pos);
    return pos < text.size() ? pos : text.size();
}

std::string SjisSubstring(std::string_view text, std::size_t start, std::size_t count) {
    std::size_t from = SjisByteOffset(text, start);
    std::string_view rest = text.substr(from);
    return std::string(rest.substr(0, SjisByteOffset(rest, count)));
}

namespace {

// Length of the UTF-8 sequence that starts with byte c (1 for a stray byte).
std::size_t Utf8SequenceLength(unsigned char c) {
    return c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
}

// One iconv pass. Where the input does not convert, the character (its length given by skipLength)
// is dropped and `replacement` written instead, so the result is always complete.
template <typename SkipLength>
std::string Convert(const char* to, const char* from, std::string_view in, SkipLength skipLength,
                    std::string_view replacement) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in); // no converter: pass bytes on
    std::string out(in.size() * 3 / 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t used = 0;
    auto room = [&](std::size_t need) {
        if (out.size() - used < need) out.resize(out.size() * 2 + need);
    };
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        int err = errno;
        used = out.size() - dstLeft;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (err == E2BIG) {
            room(64);
            continue;
        }
        // EILSEQ, or EINVAL for a sequence cut off at the end.
        std::size_t n = skipLength(static_cast<unsigned char>(*src));
        if (n > srcLeft) n = srcLeft;
        src += n;
        srcLeft -= n;
        room(replacement.size());
        out.replace(used, replacement.size(), replacement);
        used += replacement.size();
    }
    out.resize(used);
    iconv_close(cd);
    return out;
}

} // namespace

std::string SjisToUtf8(std::string_view sjis) {
    return Convert("UTF-8", "CP932", sjis, [](unsigned char) { return std::size_t{1}; }, "\xEF\xBF\xBD");
}

std::string Utf8ToSjis(std::string_view utf8) {
    return Convert("CP932", "UTF-8", utf8, Utf8SequenceLength, "?");
}

} // namespace plimo
