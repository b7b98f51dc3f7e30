#include "sound/sound_path.h"

#include <sys/stat.h>

#include "platform/files.h"

namespace plimo::sound {

std::string FindSoundFile(const std::string& name, const std::string& folder) {
    if (name.empty()) return {};
    std::string path = NormalizeSeparators(name);
    if (path[0] != '/') path = (folder.empty() ? std::string(".") : folder) + "/" + path;
    // The file layer's lookup, so that music code and scripts reach sound files as they reach every
    // other file: names ignoring case, CP932 names under their UTF-8 spelling.
    std::string found = FindExistingPath(path);
    struct stat st;
    return !found.empty() && ::stat(found.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? found : std::string();
}

} // namespace plimo::sound
