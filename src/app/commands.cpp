#include "app/commands.h"

namespace plimo::app {

// Each mode lives in a file of its own under src/app/ and is listed here.
std::span<const Command> Commands() { return {}; }

} // namespace plimo::app
