// The command line: picks a mode from the arguments and hands over to it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/commands.h"

namespace {

const char* kUsage =
    "usage: plimo [PAGE.cmml]                 run the game in a window\n"
    "       plimo --headless [--frames N] [--screenshot F.png] [PAGE.cmml]\n"
    "       plimo --run FILE.plimo [MORE.plimo ...]\n"
    "                                         compile the classes against the kernel and run the\n"
    "                                         first one's main code to its end\n"
    "       plimo --render-music FILE.svo --seconds N --out OUT.wav | --compile-music IN.txt --out OUT.svo\n"
    "       plimo --help | --version\n"
    "exit status: 0 ran, 1 a class did not compile, 2 the main process ended with a runtime error\n";

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty()) {
        const std::string& first = args[0];
        if (first == "--help" || first == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (first == "--version") {
            std::printf("plimo %s\n", plimo::kVersionText);
            return 0;
        }
        for (const plimo::app::Command& c : plimo::app::Commands()) {
            if (first == c.option) return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
        }
        if (first.size() > 1 && first[0] == '-') {
            std::fprintf(stderr, "plimo: unknown option %s\n%s", first.c_str(), kUsage);
            return 64;
        }
    }
    std::fprintf(stderr, "plimo: the game window is not part of this build yet\n");
    return 64;
}
