// The command-line modes beyond --help and --version, one entry each.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/version.h"

namespace plimo::app {


struct Command {
    const char* option; // "--run"
    int (*run)(const std::vector<std::string>& args);
};

// Every mode, in the order they are matched.
std::span<const Command> Commands();

} // namespace plimo::app
