#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/text.h"

namespace plimo {

namespace {

// Case-insensitive lookups give up after reading this many folders: a path whose components each match
// several entries ignoring case would otherwise cost a number of reads exponential in its depth.
constexpr int kMaxFolderReads = 256;

unsigned char foldByte(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

bool statPath(const std::string& path, struct stat& st) {
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool hasHighBytes(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

// Names as the file system spells them compare ignoring ASCII case byte by byte: UTF-8 has no ASCII
// byte inside a multi-byte character.
bool sameOsName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldByte(a[i]) != foldByte(b[i])) return false;
    return true;
}

// The spellings under which the file system may know a path the system holds (separators already
// normalised): system texts are CP932 and Linux names UTF-8, so a path with non-ASCII bytes is first
// looked up converted. Its bytes as they are come last: they are what a path not valid as CP932 means,
// and what a path the program got from the OS itself (its own folder, a build folder) already is.
std::vector<std::string> osSpellings(const std::string& path) {
    std::vector<std::string> out;
    if (hasHighBytes(path)) {
        std::string utf8 = SjisToUtf8(path);
        // CP932 has no character that converts to U+FFFD: it stands only for bytes that do not decode.
        if (utf8.find("\xEF\xBF\xBD") == std::string::npos) out.push_back(std::move(utf8));
    }
    out.push_back(path);
    return out;
}

// The entries of folder whose names equal component ignoring case, its exact spelling left out (the
// caller has tried that already), in name order so that a lookup gives the same answer every time.
std::vector<std::string> caseVariants(const std::string& folder, std::string_view component) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir) return found;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name != component && sameOsName(entry->d_name, component))
            found.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

// Matches the components of one spelling below a folder, backtracking: "Usr" may be the folder that
// holds the file while "usr" beside it does not, and readdir lists them in no useful order.
class TCaseWalk {
public:
    explicit TCaseWalk(const std::string& path) {
        for (std::size_t pos = 0; pos <= path.size();) {
            std::size_t slash = path.find('/', pos);
            if (slash == std::string::npos) slash = path.size();
            if (slash > pos) m_parts.push_back(std::string_view(path).substr(pos, slash - pos));
            pos = slash + 1;
        }
    }

    // The existing path below built spelt by the parts from index i on, or empty.
    std::string From(const std::string& built, std::size_t i) {
        struct stat st;
        if (i == m_parts.size()) return statPath(built.empty() ? "/" : built, st) ? built : std::string();
        std::string_view part = m_parts[i];
        std::string exact = built + "/" + std::string(part);
        if (part == "." || part == "..") return From(exact, i + 1);
        if (statPath(exact, st)) {
            std::string found = From(exact, i + 1);
            if (!found.empty()) return found;
        }
        if (m_folderReads++ >= kMaxFolderReads) return {};
        for (const std::string& entry : caseVariants(built, part)) {
            std::string found = From(built + "/" + entry, i + 1);
            if (!found.empty()) return found;
        }
        return {};
    }

private:
    std::vector<std::string_view> m_parts;
    int m_folderReads = 0;
};

// FindExistingPath for one spelling.
std::string findSpelling(const std::string& path) {
    struct stat st;
    if (path.empty()) return {};
    if (statPath(path, st)) return path;
    // (The root itself exists, so the walk below always has a component to match.)
    if (path[0] == '/') return TCaseWalk(path).From("", 0);
    std::string found = TCaseWalk(path).From(".", 0);
    return found.empty() ? found : found.substr(2); // the "./" the walk started from
}

// Where a file that does not exist yet is made: in its folder as the file system spells it, under the
// spelling of the path that found that folder.
std::string newFilePath(const std::string& path) {
    for (const std::string& spelling : osSpellings(path)) {
        std::size_t slash = spelling.rfind('/');
        if (slash == std::string::npos) return spelling;
        std::string leaf = spelling.substr(slash + 1);
        if (slash == 0) return "/" + leaf;
        if (std::string folder = findSpelling(spelling.substr(0, slash)); !folder.empty())
            return folder + "/" + leaf;
    }
    return {};
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

std::string NormalizeSeparators(std::string_view path) {
    std::string out(path);
    for (std::size_t i = 0; i < out.size();) {
        std::size_t len = SjisCharLength(out, i);
        if (len == 1 && out[i] == '\\') out[i] = '/';
        i += len;
    }
    return out;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        std::size_t len = SjisCharLength(a, i);
        if (len == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (foldByte(a[i]) != foldByte(b[i])) {
            return false;
        }
        i += len;
    }
    return true;
}

std::string LowerText(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size();) {
        std::size_t len = SjisCharLength(out, i);
        if (len == 1) out[i] = static_cast<char>(foldByte(out[i]));
        i += len;
    }
    return out;
}

std::string FindExistingPath(std::string_view given) {
    std::string path = NormalizeSeparators(given);
    for (const std::string& spelling : osSpellings(path))
        if (std::string found = findSpelling(spelling); !found.empty()) return found;
    return {};
}

std::string SystemPathFromOs(std::string_view osPath) {
    if (!hasHighBytes(osPath)) return std::string(osPath);
    std::string sjis = Utf8ToSjis(osPath);
    return SjisToUtf8(sjis) == osPath ? sjis : std::string(osPath);
}

bool FileExists(std::string_view path) {
    std::string found = FindExistingPath(path);
    struct stat st;
    return statPath(found, st) && S_ISREG(st.st_mode);
}

bool FolderExists(std::string_view path) {
    std::string found = FindExistingPath(path);
    struct stat st;
    return statPath(found, st) && S_ISDIR(st.st_mode);
}

bool ReadWholeFile(std::string_view path, std::string& contents) {
    std::string found = FindExistingPath(path);
    if (found.empty()) return false;
    std::FILE* f = std::fopen(found.c_str(), "rb");
    if (!f) return false;
    contents.clear();
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) contents.append(buffer, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool CreateFolders(std::string_view given) {
    std::string normalized = NormalizeSeparators(given);
    if (normalized.empty()) return false;
    if (FolderExists(normalized)) return true;
    // Folders that are still missing are named from the system's text.
    std::string path = osSpellings(normalized).front();
    std::string built = path[0] == '/' ? "" : ".";
    std::size_t pos = path[0] == '/' ? 1 : 0;
    struct stat st;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        std::string component = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (component.empty()) continue;
        std::string candidate = built + "/" + component;
        if (component != "." && component != ".." && !(statPath(candidate, st) && S_ISDIR(st.st_mode))) {
            std::string existing;
            for (const std::string& entry : caseVariants(built, component)) {
                if (statPath(built + "/" + entry, st) && S_ISDIR(st.st_mode)) {
                    existing = entry;
                    break;
                }
            }
            if (!existing.empty())
                candidate = built + "/" + existing;
            else if (::mkdir(candidate.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
        }
        if (!statPath(candidate, st) || !S_ISDIR(st.st_mode)) return false;
        built = std::move(candidate);
    }
    return true;
}

bool WriteFileAtomic(std::string_view given, std::string_view contents) {
    std::string path = NormalizeSeparators(given);
    if (path.empty() || path.back() == '/') return false;
    std::string target = FindExistingPath(path);
    if (!target.empty()) {
        // Saving through a symbolic link replaces the file it points to; renaming over the link itself
        // would turn it into a copy and leave that file as it was.
        if (char* real = ::realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    } else {
        // A new file: its folder may still be spelt in another case.
        target = newFilePath(path);
        if (target.empty()) return false;
    }
    std::size_t slash = target.rfind('/');
    std::string temp =
        (slash == std::string::npos ? std::string(".") : target.substr(0, slash)) + "/.plimo-save-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = writeAll(fd, contents) && ::fsync(fd) == 0;
    // mkstemp makes the file private; the saved file keeps the old one's mode, or the usual one.
    struct stat st;
    mode_t mode = 0644;
    if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    ok = ::fchmod(fd, mode) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

} // namespace plimo
