// Options of the benchmark programs: "--name VALUE" pairs, each one the program knows.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace bench {

// Calls `take` with each name and value; a name `take` refuses, or one without a value,
// prints `usage` and ends the program with status 2.
inline void ParseOptions(int argc, char **argv, const char *usage,
                         const std::function<bool(const std::string &name, const char *value)> &take) {
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 < argc && take(argv[i], argv[i + 1])) continue;
        std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
        std::exit(2);
    }
}

}  // namespace bench
