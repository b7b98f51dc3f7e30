#include "app/commands.h"

namespace plimo::app {

int RunDumpCode(const std::vector<std::string>& args);
int RunFiles(const std::vector<std::string>& args);

namespace {
const Command kCommands[] = {
    {"--dump-code", RunDumpCode},
    {"--run", RunFiles},
};
} // namespace

// Each mode lives in a file of its own under src/app/ and is listed here.
std::span<const Command> Commands() { return kCommands; }

} // namespace plimo::app
