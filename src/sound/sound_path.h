// Finding the sound files that music code and callers name: "\" separates, case is ignored on a miss.
#pragma once

#include <string>

namespace plimo::sound {

// The existing file `name` names, relative to `folder` unless absolute (an empty folder is the current
// one); each path component not found exactly is matched ignoring ASCII case. Empty when none exists.
std::string FindSoundFile(const std::string& name, const std::string& folder);

} // namespace plimo::sound
