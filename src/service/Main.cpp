#include "service/Main.h"

#include <cstdio>

#include "service/ServiceLineProtocol.h"

namespace ferrow::service {

void main(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs("usage: trevassa-router <segmentDir>\n", stdout);
        std::fflush(stdout);
        return;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    ServiceLineProtocol::serve(stdin, stdout, args[0]);
}

} // namespace ferrow::service
