// One element of the resource markup, with its two readers (Scan, Parse) and its writer (ToText).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace plimo {

class TReporter;

// Raised by the pattern reader when its text holds no tag at all.
class ETagError : public std::runtime_error {
public:
    ETagError() : std::runtime_error("Tag Error") {}
};

class TSGML {
public:
    using Children = std::vector<std::unique_ptr<TSGML>>;

    TSGML() = default; // empty: no name, no attributes, no children list
    ~TSGML();
    TSGML(const TSGML&) = delete;
    TSGML& operator=(const TSGML&) = delete;

    // The main reader. Reads the next element at text[pos], advancing pos past it. None when no
    // further '<' exists, or when the next tag is a closing tag (pos is then left on its '<').
    // A NUL byte ends the text.
    static std::unique_ptr<TSGML> Scan(std::string_view text, std::size_t& pos);
    // The pattern reader, for small texts. Throws ETagError when no tag is found. A container
    // without its closing tag is reported ("invalid Tag : " and the rest) through reporter.
    static std::unique_ptr<TSGML> Parse(std::string_view text, std::size_t& pos,
                                        TReporter* reporter = nullptr);

    const std::string& GetTagName() const { return m_tagName; }
    void SetTagName(std::string_view tagName) { m_tagName = tagName; }

    // First line whose name matches ignoring case; "" when none.
    std::string GetAttr(std::string_view attrName) const;
    // Drops the line with exactly this name, then appends name=value at the end.
    void SetAttr(std::string_view attrName, std::string_view value);
    std::size_t AttrCount() const { return m_attrs.size(); }
    std::string AttrName(std::size_t index) const;
    const std::vector<std::string>& AttrLines() const { return m_attrs; }

    void AddSubItem(std::unique_ptr<TSGML> child);
    // The children list, or none when the element was read without one.
    const Children* SubItems() const { return m_children.get(); }
    Children* SubItems() { return m_children.get(); }
    void MakeChildrenList();

    std::string ToText(const std::string& indent = "") const;

    static std::string EscapeValue(std::string_view text);
    static std::string UnescapeValue(std::string_view text);
    // class, globalvalue, link, generator and cpattern never have children.
    static bool IsEmptyTag(std::string_view tagName);

    // Appends a line as a reader found it, without looking for an earlier one of the same name.
    void SetAttrLine(std::string_view attrName, std::string_view value);

private:
    std::string m_tagName;
    std::vector<std::string> m_attrs; // name=value, values decoded
    std::unique_ptr<Children> m_children;
};

} // namespace plimo
