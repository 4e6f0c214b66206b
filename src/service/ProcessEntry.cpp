#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "service/Main.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        ferrow::service::main(args);
    } catch (const std::exception& failure) {
        // A failure the service cannot answer (a read error on standard input,
        // running out of memory) ends it without a further answer line.
        std::fprintf(stderr, "trevassa-router: %s\n", failure.what());
        return 1;
    }
    return 0;
}
