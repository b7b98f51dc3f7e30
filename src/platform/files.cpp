#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace plimo {

namespace {

unsigned char foldByte(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

bool statPath(const std::string& path, struct stat& st) {
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

// The entry of folder whose name equals component ignoring case, or empty.
std::string matchEntry(const std::string& folder, std::string_view component) {
    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir) return {};
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        if (SameText(entry->d_name, component)) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
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
    struct stat st;
    if (path.empty()) return {};
    if (statPath(path, st)) return path;
    // Walk the components, keeping every one that exists exactly and matching the rest ignoring case.
    std::string built;
    std::size_t pos = 0;
    if (path[0] == '/') {
        built = "";
        pos = 1;
    } else {
        built = ".";
    }
    bool relative = path[0] != '/';
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        std::string_view component = std::string_view(path).substr(pos, slash - pos);
        pos = slash + 1;
        if (component.empty()) continue;
        std::string candidate = built + "/" + std::string(component);
        if (component == "." || component == ".." || statPath(candidate, st)) {
            built = std::move(candidate);
            continue;
        }
        std::string entry = matchEntry(built, component);
        if (entry.empty()) return {};
        built += "/" + entry;
    }
    if (relative) built.erase(0, 2); // the "./" the walk started from
    return statPath(built.empty() ? "/" : built, st) ? (built.empty() ? "/" : built) : std::string();
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
    std::string path = NormalizeSeparators(given);
    if (path.empty()) return false;
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
        if (component != "." && component != ".." && !statPath(candidate, st)) {
            std::string entry = matchEntry(built, component);
            if (!entry.empty())
                candidate = built + "/" + entry;
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
    if (target.empty()) {
        // A new file: its folder may still be spelt in another case.
        std::size_t slash = path.rfind('/');
        std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : FindExistingPath(path.substr(0, slash));
        if (folder.empty()) return false;
        target = folder + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
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
