#include "app/commands.h"

namespace plimo::app {

int RunRenderMusic(const std::vector<std::string>& args);
int RunCompileMusic(const std::vector<std::string>& args);

// Each mode lives in a file of its own under src/app/ and is listed here.
std::span<const Command> Commands() {
    static const Command commands[] = {
        {"--render-music", RunRenderMusic},
        {"--compile-music", RunCompileMusic},
    };
    return commands;
}

} // namespace plimo::app
