#include "resources/sgml.h"

#include <cstring>

#include "platform/report.h"

namespace plimo {

namespace {

constexpr bool isNameChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
constexpr bool isBlank(unsigned char c) {
    return c <= 32;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// Both readers treat the text as zero-terminated, as the files have always been read.
std::size_t textEnd(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    const void* nul = std::memchr(text.data() + pos, 0, text.size() - pos);
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
}

std::size_t findChar(std::string_view text, std::size_t pos, std::size_t end, char c) {
    if (pos >= end) return std::string_view::npos;
    const void* hit = std::memchr(text.data() + pos, c, end - pos);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data())
               : std::string_view::npos;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t start = 0, hit;
    while ((hit = text.find(from, start)) != std::string::npos) {
        out.append(text, start, hit - start);
        out.append(to);
        start = hit + from.size();
    }
    if (start == 0) return;
    out.append(text, start, std::string::npos);
    text = std::move(out);
}

// Scanner, rules 1-3 and 6: reads the start tag whose '<' is at text[pos]. container tells whether
// content and a closing tag follow.
std::unique_ptr<TSGML> scanStartTag(std::string_view t, std::size_t& p, std::size_t n, bool& container) {
    auto element = std::make_unique<TSGML>();
    container = false;
    ++p;
    while (p < n && isBlank(t[p])) ++p;
    std::size_t start = p;
    while (p < n && isNameChar(t[p])) ++p;
    element->SetTagName(t.substr(start, p - start));
    while (p < n && isBlank(t[p])) ++p;
    std::string value;
    while (p < n) {
        char c = t[p];
        if (c == '>') {
            ++p;
            if (!TSGML::IsEmptyTag(element->GetTagName())) {
                container = true;
                element->MakeChildrenList();
            }
            return element;
        }
        if (c == '/') {
            p = std::min(n, p + 2);
            return element;
        }
        start = p;
        while (p < n && isNameChar(t[p])) ++p;
        std::string_view attrName = t.substr(start, p - start);
        std::size_t quote = findChar(t, p, n, '"');
        if (quote == std::string_view::npos) break;
        p = quote + 1;
        value.clear();
        bool closed = false;
        while (p < n) {
            std::size_t run = p;
            while (p < n && t[p] != '"' && t[p] != '%') ++p;
            value.append(t.data() + run, p - run);
            if (p >= n) break;
            if (t[p] == '"') {
                ++p;
                closed = true;
                break;
            }
            if (p + 2 >= n) { // the two digits run past the end of the text
                p = n;
                break;
            }
            int hi = hexValue(t[p + 1]), lo = hexValue(t[p + 2]);
            value.push_back(hi < 0 || lo < 0 ? '\0' : static_cast<char>(hi * 16 + lo));
            p += 3;
        }
        if (!closed) break;
        element->SetAttrLine(attrName, value);
        while (p < n && isBlank(t[p])) ++p;
    }
    p = n;
    return element;
}

// Pattern reader: the first '<' followed by anything but '>' up to the next '>'.
bool findTag(std::string_view t, std::size_t p, std::size_t n, std::size_t& open, std::size_t& close) {
    open = findChar(t, p, n, '<');
    if (open == std::string_view::npos) return false;
    close = findChar(t, open + 1, n, '>');
    return close != std::string_view::npos;
}

// Pattern reader, steps 2-4: one tag and its name="value" pairs.
std::unique_ptr<TSGML> parseTag(std::string_view t, std::size_t& p, std::size_t n, bool& container) {
    std::size_t open, close;
    if (!findTag(t, p, n, open, close)) throw ETagError();
    p = close + 1;
    bool selfClosing = close > open + 1 && t[close - 1] == '/';
    std::size_t i = open + 1;
    while (i < close && isNameChar(t[i])) ++i;
    auto element = std::make_unique<TSGML>();
    element->SetTagName(t.substr(open + 1, i - open - 1));
    // Leftmost matches of (\w*)="([^"]*)" inside the tag.
    while (i < close) {
        std::size_t j = i;
        while (j < close && isNameChar(t[j])) ++j;
        if (j + 1 < close && t[j] == '=' && t[j + 1] == '"') {
            std::size_t endQuote = findChar(t, j + 2, close, '"');
            if (endQuote == std::string_view::npos) break;
            element->SetAttr(t.substr(i, j - i),
                             TSGML::UnescapeValue(TSGML::UnescapeValue(t.substr(j + 2, endQuote - j - 2))));
            i = endQuote + 1;
            continue;
        }
        i = j > i ? j : i + 1;
    }
    container = !selfClosing && !TSGML::IsEmptyTag(element->GetTagName());
    if (container) element->MakeChildrenList();
    return element;
}

// Both readers keep the open containers on their own stack, innermost last.
void adoptChild(std::vector<TSGML*>& open, std::unique_ptr<TSGML> child, bool container) {
    TSGML* raw = child.get();
    open.back()->AddSubItem(std::move(child));
    if (container) open.push_back(raw);
}

} // namespace

TSGML::~TSGML() {
    // Iterative, so that a deeply nested tree cannot exhaust the stack.
    if (!m_children) return;
    Children pending = std::move(*m_children);
    while (!pending.empty()) {
        std::unique_ptr<TSGML> last = std::move(pending.back());
        pending.pop_back();
        if (last->m_children) {
            for (auto& child : *last->m_children) pending.push_back(std::move(child));
            last->m_children->clear();
        }
    }
}

bool TSGML::IsEmptyTag(std::string_view tagName) {
    return tagName == "class" || tagName == "globalvalue" || tagName == "link" || tagName == "generator" ||
           tagName == "cpattern";
}

std::unique_ptr<TSGML> TSGML::Scan(std::string_view text, std::size_t& pos) {
    const std::size_t n = textEnd(text, pos);
    std::size_t p = findChar(text, pos, n, '<');
    if (p == std::string_view::npos) {
        pos = n;
        return nullptr;
    }
    if (p + 1 < n && text[p + 1] == '/') {
        pos = p;
        return nullptr;
    }
    bool container;
    std::unique_ptr<TSGML> root = scanStartTag(text, p, n, container);
    std::vector<TSGML*> open;
    if (container) open.push_back(root.get());
    while (!open.empty()) {
        p = findChar(text, p, n, '<');
        if (p == std::string_view::npos) {
            p = n;
            break;
        }
        if (p + 1 < n && text[p + 1] == '/') {
            std::size_t gt = findChar(text, p + 2, n, '>');
            p = gt == std::string_view::npos ? n : gt + 1;
            open.pop_back();
            continue;
        }
        std::unique_ptr<TSGML> child = scanStartTag(text, p, n, container);
        adoptChild(open, std::move(child), container);
    }
    pos = p;
    return root;
}

std::unique_ptr<TSGML> TSGML::Parse(std::string_view text, std::size_t& pos, TReporter* reporter) {
    const std::size_t n = textEnd(text, pos);
    const bool timed = reporter && n > pos && n - pos > 100;
    if (timed) reporter->ReportProgress("sgml.create");
    bool container;
    std::unique_ptr<TSGML> root = parseTag(text, pos, n, container);
    std::vector<TSGML*> open;
    if (container) open.push_back(root.get());
    while (!open.empty()) {
        std::size_t tagOpen, tagClose;
        if (!findTag(text, pos, n, tagOpen, tagClose)) {
            // One message for all the containers left open: the rest of the text is the same for each.
            if (reporter) reporter->ReportMessage("invalid Tag : " + std::string(text.substr(pos, n - pos)));
            pos = n;
            break;
        }
        if (text[tagOpen + 1] == '/') {
            pos = tagClose + 1;
            open.pop_back();
            continue;
        }
        std::unique_ptr<TSGML> child = parseTag(text, pos, n, container);
        adoptChild(open, std::move(child), container);
    }
    if (timed) reporter->ReportProgress("/sgml.create");
    return root;
}

std::string TSGML::GetAttr(std::string_view attrName) const {
    for (const std::string& line : m_attrs) {
        std::size_t eq = line.find('=');
        if (equalsIgnoreCase(std::string_view(line).substr(0, eq), attrName))
            return eq == std::string::npos ? std::string() : line.substr(eq + 1);
    }
    return {};
}

void TSGML::SetAttr(std::string_view attrName, std::string_view value) {
    for (auto it = m_attrs.begin(); it != m_attrs.end(); ++it) {
        std::size_t eq = it->find('=');
        if (std::string_view(*it).substr(0, eq) == attrName) {
            m_attrs.erase(it);
            break;
        }
    }
    SetAttrLine(attrName, value);
}

void TSGML::SetAttrLine(std::string_view attrName, std::string_view value) {
    std::string line;
    line.reserve(attrName.size() + 1 + value.size());
    line.append(attrName).push_back('=');
    line.append(value);
    m_attrs.push_back(std::move(line));
}

std::string TSGML::AttrName(std::size_t index) const {
    if (index >= m_attrs.size()) return {};
    const std::string& line = m_attrs[index];
    return line.substr(0, line.find('='));
}

void TSGML::MakeChildrenList() {
    if (!m_children) m_children = std::make_unique<Children>();
}

void TSGML::AddSubItem(std::unique_ptr<TSGML> child) {
    MakeChildrenList();
    m_children->push_back(std::move(child));
}

namespace {

// Writes the start tag; true when a content and closing tag follow.
bool writeStartTag(const TSGML& element, const std::string& indent, std::string& out) {
    out += indent;
    out += '<';
    out += element.GetTagName();
    for (const std::string& line : element.AttrLines()) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq + 1 == line.size()) continue;
        out += ' ';
        out.append(line, 0, eq);
        out += "=\"";
        out.append(line, eq + 1, std::string::npos);
        out += '"';
    }
    const TSGML::Children* children = element.SubItems();
    if (!children || children->empty()) {
        out += "/>";
        return false;
    }
    out += ">\r\n";
    return true;
}

} // namespace

std::string TSGML::ToText(const std::string& indent) const {
    struct Frame {
        const TSGML* element;
        std::size_t next;
        std::string indent;
    };
    std::string out;
    std::vector<Frame> open;
    if (writeStartTag(*this, indent, out)) open.push_back({this, 0, indent});
    while (!open.empty()) {
        Frame& top = open.back();
        const Children& children = *top.element->SubItems();
        if (top.next < children.size()) {
            const TSGML& child = *children[top.next++];
            std::string childIndent = top.indent + " ";
            if (writeStartTag(child, childIndent, out)) open.push_back({&child, 0, std::move(childIndent)});
            continue;
        }
        out += top.indent;
        out += "</";
        out += top.element->GetTagName();
        out += '>';
        open.pop_back();
    }
    return out;
}

std::string TSGML::EscapeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '%':
            out += "%25";
            break;
        case '"':
            out += "%22";
            break;
        case '<':
            out += "%3c";
            break;
        case '>':
            out += "%3e";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string TSGML::UnescapeValue(std::string_view text) {
    std::string out(text);
    if (out.find('%') == std::string::npos) return out;
    replaceAll(out, "%3c", "<");
    replaceAll(out, "%3e", ">");
    replaceAll(out, "%22", "\"");
    replaceAll(out, "%25", "%");
    return out;
}

} // namespace plimo
