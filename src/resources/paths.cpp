#include "resources/paths.h"

#include "platform/files.h"

namespace plimo {

namespace {

std::string stripped(std::string_view p) {
    return StripSlash(NormalizeSeparators(p));
}

bool insideNormalized(const std::string& a, const std::string& b) {
    if (a.size() < b.size()) return false;
    if (!SameText(std::string_view(a).substr(0, b.size()), b)) return false;
    return a.size() == b.size() || a[b.size()] == '/';
}

} // namespace

bool IsAbsolutePath(std::string_view p) {
    return !p.empty() && (p[0] == '/' || p[0] == '\\');
}

std::string StripSlash(std::string_view p) {
    std::string out = NormalizeSeparators(p);
    if (!out.empty() && out.back() == '/') out.pop_back();
    return out;
}

std::string ParentFolder(std::string_view p) {
    std::string out = stripped(p);
    std::size_t slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
    return StripSlash(out);
}

std::string ResolvePath(std::string_view rel, std::string_view base) {
    if (rel.empty()) return {};
    std::string relative = NormalizeSeparators(rel);
    if (IsAbsolutePath(relative)) return relative;
    if (base.empty()) return {};
    std::string out = stripped(base);
    std::size_t pos = 0;
    while (pos <= relative.size()) {
        std::size_t slash = relative.find('/', pos);
        if (slash == std::string::npos) slash = relative.size();
        std::string_view part = std::string_view(relative).substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            out = ParentFolder(out);
        } else {
            out += '/';
            out += part;
        }
    }
    // Climbing to the root of an absolute base leaves the empty folder, which as a result is "/".
    if (out.empty() && IsAbsolutePath(base)) return "/";
    return out;
}

std::string RelativePath(std::string_view given, std::string_view givenBase) {
    std::string p = NormalizeSeparators(given);
    if (!IsAbsolutePath(p)) return p;
    p = StripSlash(p);
    std::string base = stripped(givenBase);
    // The empty folder is the root here, which holds every absolute path; without a base there is
    // nothing to be relative to.
    if (base.empty()) return p;
    std::string out;
    while (!insideNormalized(p, base)) {
        base = ParentFolder(base);
        out += "../";
        if (base.empty()) return p;
    }
    if (p.size() > base.size()) out.append(p, base.size() + 1, std::string::npos);
    return out;
}

bool IsInside(std::string_view a, std::string_view b) {
    return insideNormalized(stripped(a), stripped(b));
}

bool SameFolder(std::string_view a, std::string_view b) {
    return SameText(stripped(a), stripped(b));
}

std::string CommonFolderOf(std::string_view givenA, std::string_view givenB) {
    std::string a = stripped(givenA), b = stripped(givenB);
    while (!a.empty() && !b.empty()) {
        if (insideNormalized(a, b)) return b;
        if (insideNormalized(b, a)) return a;
        a = ParentFolder(a);
    }
    return {};
}

std::string BaseName(std::string_view given) {
    std::string p = NormalizeSeparators(given);
    std::size_t slash = p.rfind('/');
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

std::string FolderOf(std::string_view given) {
    std::string p = NormalizeSeparators(given);
    std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : p.substr(0, slash); // a file directly in the root lies in "/"
}

} // namespace plimo
