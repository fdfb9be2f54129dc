#pragma once

#include <cstdio>
#include <cstring>
#include <optional>

#ifndef DRAVONELLE_VERSION
#error "DRAVONELLE_VERSION comes from the build"
#endif

namespace platform {

// The package's version, which every program says with --version.
inline constexpr const char* kVersion = DRAVONELLE_VERSION;

// Answers a lone --help with `help` and --version with "NAME VERSION", on standard
// output, as the programs of the package do (their manual pages are made from these
// answers); gives the exit status then, nothing for any other arguments.
inline std::optional<int> AnswerHelpOrVersion(int argc, char** argv, const char* name,
                                              const char* help) {
    if (argc != 2) {
        return std::nullopt;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(help, stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", name, kVersion);
        return 0;
    }
    return std::nullopt;
}

}  // namespace platform
