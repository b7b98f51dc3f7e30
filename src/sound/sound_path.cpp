#include "sound/sound_path.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace plimo::sound {

namespace fs = std::filesystem;

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

} // namespace

std::string FindSoundFile(const std::string& name, const std::string& folder) {
    if (name.empty()) return {};
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    fs::path current;
    if (path[0] == '/')
        current = "/";
    else
        current = folder.empty() ? fs::path(".") : fs::path(folder);
    std::error_code ec;
    if (fs::is_regular_file(current / path, ec)) return (current / path).string();

    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (fs::exists(current / part, ec)) {
            current /= part;
            continue;
        }
        bool found = false;
        for (fs::directory_iterator it(current, ec), last; !ec && it != last; it.increment(ec)) {
            if (SameIgnoringCase(it->path().filename().string(), part)) {
                current = it->path();
                found = true;
                break;
            }
        }
        if (!found) return {};
    }
    return fs::is_regular_file(current, ec) ? current.string() : std::string();
}

} // namespace plimo::sound
