#include "app/commands.h"

namespace plimo::app {

int RunRenderMusic(const std::vector<std::string>& args);
int RunCompileMusic(const std::vector<std::string>& args);
int RunDumpCode(const std::vector<std::string>& args);
int RunFiles(const std::vector<std::string>& args);

namespace {
const Command kCommands[] = {
    {"--render-music", RunRenderMusic},
    {"--compile-music", RunCompileMusic},
    {"--dump-code", RunDumpCode},
    {"--run", RunFiles},
};
} // namespace

// Each mode lives in a file of its own under src/app/ and is listed here.
std::span<const Command> Commands() { return kCommands; }

} // namespace plimo::app
