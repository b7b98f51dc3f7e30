// Shift-JIS (CP932) byte strings: character walking, and conversion to and from UTF-8 at the edges.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace plimo {

// The lead-byte rule shared by the lexer and the wide string natives: 0x80-0x9F and 0xE0-0xFF start a
// double-byte character. (Half-width katakana 0xA0-0xDF are single bytes.)
constexpr bool IsSjisLeadByte(unsigned char c) { return (c >= 0x80 && c <= 0x9F) || c >= 0xE0; }

// Length in bytes of the character starting at text[pos]: 2 for a lead byte with a following byte,
// otherwise 1 (a lead byte at the very end stands alone).
constexpr std::size_t SjisCharLength(std::string_view text, std::size_t pos) {
    return IsSjisLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

// Number of characters in text under the lead-byte rule.
std::size_t SjisCharCount(std::string_view text);

// Byte offset of the character with index charIndex (text.size() when it lies at or beyond the end).
std::size_t SjisByteOffset(std::string_view text, std::size_t charIndex);

// Characters [start, start + count) of text, clipped to the text.
std::string SjisSubstring(std::string_view text, std::size_t start, std::size_t count);

// CP932 -> UTF-8. Bytes that do not decode are written as U+FFFD, so the conversion never fails.
std::string SjisToUtf8(std::string_view sjis);

// UTF-8 -> CP932. Characters CP932 lacks, and malformed UTF-8 bytes, become '?'.
std::string Utf8ToSjis(std::string_view utf8);

// A fixed text of the system, written in UTF-8 in the source and handed to scripts and files as CP932.
// The conversion runs once, on first use; the object is immutable afterwards.
class SysText {
public:
    explicit SysText(const char* utf8) : m_utf8(utf8) {}
    SysText(const SysText&) = delete;
    SysText& operator=(const SysText&) = delete;

    const char* utf8() const { return m_utf8; }
    const std::string& sjis() const {
        std::call_once(m_once, [this] { m_sjis = Utf8ToSjis(m_utf8); });
        return m_sjis;
    }
    operator const std::string&() const { return sjis(); }

private:
    const char* m_utf8;
    mutable std::once_flag m_once;
    mutable std::string m_sjis;
};

} // namespace plimo
