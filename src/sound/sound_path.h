// Finding the sound files that music code and callers name: "\" separates, case is ignored on a miss.
#pragma once

#include <string>

namespace plimo::sound {

// The existing file `name` names, relative to `folder` unless absolute (an empty folder is the current
// one), looked up as FindExistingPath does (ignoring case, CP932 names under their UTF-8 spelling).
// The result is the name the file system knows, which the loaders open as it is. Empty when none exists.
std::string FindSoundFile(const std::string& name, const std::string& folder);

} // namespace plimo::sound
