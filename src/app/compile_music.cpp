// plimo --compile-music IN.txt --out OUT.svo: compiles the readable music notation into a music file.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sound/music_compiler.h"

namespace plimo::app {

int RunCompileMusic(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[1] != "--out") {
        std::fputs("usage: plimo --compile-music IN.txt --out OUT.svo\n", stderr);
        return 64;
    }
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "plimo: cannot open %s\n", args[0].c_str());
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    sound::TCompiledMusic music;
    sound::TMusicCompileError error;
    if (!sound::CompileMusic(text, music, error)) {
        std::fprintf(stderr, "%s:%s\n", args[0].c_str(), error.ToString().c_str());
        return 1;
    }
    std::vector<std::uint8_t> bytes = music.FileBytes();
    std::ofstream out(args[2], std::ios::binary);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()))) {
        std::fprintf(stderr, "plimo: cannot write %s\n", args[2].c_str());
        return 1;
    }
    return 0;
}

} // namespace plimo::app
